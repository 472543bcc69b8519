// TOMATracer: the OMA conversation with a tracer. It cuts the packets out of the machine's
// receive buffer, has the codec check and split them, answers every one, decodes the traces of
// a job, completes a missing eye, and reports packets and traces through events. The tracer
// always speaks first; the handler only answers (no timer, no retry).
#pragma once

#include "link/Machine.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <functional>
#include <string>
#include <string_view>

// The packet may be changed by the handler: what it leaves there is what gets parsed or sent.
using TOMADataPacket = std::function<void(QObject* Sender, std::string& Packet)>;
// RtEye and LtEye are valid only during the call; DBL in millimetres.
using TOMATraceData =
    std::function<void(QObject* Sender, const std::string& JobNo, PEyeRec RtEye, PEyeRec LtEye, double DBL)>;
using TProtocolErrorEvent = std::function<void(QObject* Sender, const std::string& Message)>;

class TOMATracer : public TTracer {
    Q_OBJECT
public:
    explicit TOMATracer(QObject* owner = nullptr);

    uint16_t MaxNumPoints() const { return FMachine.MaxNumPoints(); }
    void SetMaxNumPoints(unsigned value) { FMachine.SetMaxNumPoints(value); }

    // Opening or closing the link (either value written) forgets the device.
    bool Active() const { return TTracer::Active(); }
    void SetActive(bool value);

    // Called after each arrival of bytes: cuts and answers every complete packet in the buffer.
    void ProcessReceived();

    static std::string RenderPacket(std::string_view packet) { return RenderControlChars(packet); }

    const TOMAMachine& Machine() const { return FMachine; }

    TNotifyEvent OnRecvData;        // at the start of every ProcessReceived
    TNotifyEvent OnRecvTrace;       // after the reply to a trace packet, when points were stored
    TOMATraceData OnRecvOMATrace;   // during trace processing, before the reply
    TOMADataPacket OnRecvOMAPacket; // each packet cut from the buffer, before it is parsed
    TOMADataPacket OnSendOMAPacket; // each reply, before it is written
    // A packet that failed (parse error, bad header, refused block, negative radius, or an
    // exception from one of the events above): it gets no reply, and the packets after it in the
    // buffer are still answered. Without a handler, the first failure is raised out of
    // ProcessReceived once every packet has been handled.
    TProtocolErrorEvent OnProtocolError;

private:
    void ProcessPacket(std::string packet);
    void ProcessTrace();
    void SendReply(std::string reply);

    TOMAMachine FMachine;
};

// The job number of a packet's JOB value: double quotes removed, then every leading character
// below "1" (control characters, blanks, punctuation before "0", zeros).
std::string CleanJobNumber(std::string_view job);
// The DBL record's value in hundredths of a millimetre; 0 when absent, not a number, or outside
// what 16 bits carry. A full stop is read as the decimal separator besides the user's own.
uint16_t ReadDBL(std::string_view value);
