// The OMA packet codec: framing, CRC, escaping, record lists of one conversation with a
// tracer, and a readable rendering of packets for the communication log.
#pragma once

#include "common/Errors.h"
#include "common/RecordList.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace oma {
constexpr char FS = '\x1C';  // first byte of every packet
constexpr char GS = '\x1D';  // last byte of every packet
constexpr char RS = '\x1E';  // ends the records; the CRC record follows
constexpr char ACK = '\x06'; // sent alone, or in front of a reply packet
constexpr char NAK = '\x15'; // never sent; rendered in the log only
constexpr char ESC = '\x1B'; // escape prefix inside record text
constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr uint16_t kLargestMaxNumPoints = 4096;
} // namespace oma

class EOMAParseException : public Exception {
public:
    using Exception::Exception;
};

// CRC-16/XMODEM: polynomial 0x1021, initial 0, most significant bit first, no reflection, no final XOR.
uint16_t CalcCRC16(std::string_view text);
uint16_t UpdateCRC16(uint16_t crc, std::string_view text);

// Each of the eleven bytes that may not travel raw inside a record becomes ESC, byte | 0x80.
std::string EscapeText(std::string_view text);
void AppendEscaped(std::string& out, std::string_view text);
// ESC and the byte after it become (that byte & 0x7F); a final lone ESC becomes a zero byte.
std::string UnescapeText(std::string_view text);
void UnescapeTextInto(std::string_view text, std::string& out);

// Frames plain record lines as a packet: each line escaped and ended by CR LF, then RS, the CRC
// record and GS. The lines keep their order (a tracer's job packet needs its headers before
// their data records); BuildPacket sorts first.
std::string FramePacket(std::span<const std::string> lines);

// Control characters made visible for the log; each CR LF also ends a line.
std::string RenderControlChars(std::string_view text);

class TOMAMachine {
public:
    // Validates a packet (FS ... GS) and splits its records into the received list; an
    // initialisation packet also becomes the device records. Raises EOMAParseException and then
    // leaves every list and the device code as they were.
    void ParsePacket(std::string_view packet);
    // Sorts the reply records and returns the framed packet with its CRC.
    std::string BuildPacket();

    std::string ReceivedValue(std::string_view label) const { return UnescapeText(FReceived.Value(label)); }
    std::string ReplyValue(std::string_view label) const { return UnescapeText(FReply.Value(label)); }
    std::string DeviceValue(std::string_view label) const { return UnescapeText(FDeviceInfo.Value(label)); }

    // The value is kept plain and escaped when the packet is built; an empty value removes the label.
    void SetReplyValue(std::string_view label, std::string_view value) { FReply.SetValue(label, value); }
    // Appends a plain line to the reply records, also when its label is there already.
    void AddReplyLine(std::string line) { FReply.Add(std::move(line)); }
    void ClearReply() { FReply.Clear(); }

    bool IsInitialized() const { return !FDeviceInfo.Empty(); }
    void ClearDeviceInfo() { FDeviceInfo.Clear(); }
    // The received records become the device records, with DEV set to the received REQ.
    void AdoptDevice();

    uint16_t MaxNumPoints() const { return FMaxNumPoints; }
    // Values above 4096 are ignored.
    void SetMaxNumPoints(unsigned value);
    bool IgnoreBadCRC() const { return FIgnoreBadCRC; }
    void SetIgnoreBadCRC(bool value) { FIgnoreBadCRC = value; }

    const TRecordList& Received() const { return FReceived; }
    const TRecordList& Reply() const { return FReply; }
    const TRecordList& DeviceInfo() const { return FDeviceInfo; }
    const std::string& DeviceCode() const { return FDeviceCode; }

private:
    TRecordList FReceived;   // escaped, as received
    TRecordList FReply;      // plain text
    TRecordList FDeviceInfo; // escaped, as received
    std::string FDeviceCode;
    bool FIgnoreBadCRC = false;
    uint16_t FMaxNumPoints = 512;
};
