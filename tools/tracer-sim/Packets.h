// The tracer's packets (REQ=INF, REQ=INI, the initialisation packet, job packets) and the exact
// replies the protocol requires of the program, with a checker that says in one line what is
// wrong with a reply.
#pragma once

#include "Shapes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum TSimEyes : uint8_t { seRight, seLeft, seBoth };

// What the tracer tells about itself in its initialisation packet.
struct TDeviceParams {
    std::string Vendor = "TAKUBO";
    std::string Model = "SIM-1";
    std::string MachineId = "0001";
    std::string Def = "SIM";                        // DEF and ENDDEF, so the program computes the device code
    std::vector<std::string> Offers{"1;400;E;B;F"}; // one TRCFMT record each
    bool WithZ = false;                             // also one ZFMT record per offer
};

// The records of one job packet besides the shape.
struct TJobParams {
    std::string JobNumber = "1";
    double DBL = 18.0;
    int FrameType = 1;
    int EdgeType = 1;
    TSimEyes Eyes = seBoth;
    int Format = 1; // 1 to 4, for TRCFMT and ZFMT blocks alike
    bool WithZ = false;
};

// A length in mm as the job packet writes it: two decimals, always a full stop.
std::string MillimetreText(double value);

// Packet contents as plain record lines, in packet order; FramePacket escapes and frames them.
std::vector<std::string> InfRequestLines();
std::vector<std::string> IniRequestLines();
std::vector<std::string> InitPacketLines(const TDeviceParams& device);
// Raises std::invalid_argument for a format outside 1 to 4.
std::vector<std::string> JobPacketLines(const TJobParams& job, const TJobShape& shape);

// The device code the program computes from the initialisation packet: CRC-16 of the raw DEV,
// VEN, MID and MODEL values, AND 0x0FFF, in decimal.
std::string ExpectedDeviceCode(const TDeviceParams& device);
// The format answer the program gives for these packet lines (TRCFMT or ZFMT).
std::string ExpectedFormatAnswer(std::span<const std::string> lines, std::string_view label, uint16_t maxNumPoints);

// Reply records in the order the program's codec sorts them (ANS, JOB, STATUS, then by label).
std::vector<std::string> IniRequestReplyLines();
std::vector<std::string> InitReplyLines(const TDeviceParams& device, uint16_t maxNumPoints);
// An empty answer leaves its record out.
std::vector<std::string> JobReplyLines(std::string_view jobNumber, std::string_view trcAnswer = {},
                                       std::string_view zAnswer = {});

// ACK followed by the framed packet; LoneAck() for the reply to REQ=INF.
std::string ReplyBytes(std::span<const std::string> lines);
std::string LoneAck();

// Empty when `got` equals one of the acceptable replies; otherwise one line that says what is
// wrong, measured against the acceptable reply closest to it.
std::string CheckReply(std::string_view got, std::span<const std::string> acceptable);

// Bytes made readable on one line (control characters rendered as in the communication log),
// cut after `limit` characters.
std::string RenderOneLine(std::string_view bytes, std::size_t limit = 300);

} // namespace sim
