// The OMA conversation with a tracer.
#include "handler/OMATracer.h"

#include "common/Numbers.h"
#include "trace/TrceCalc.h"

#include <exception>

using namespace oma;

namespace {
const std::string kAck(1, ACK);
} // namespace

std::string CleanJobNumber(std::string_view job) {
    std::string clean;
    clean.reserve(job.size());
    for (char c : job)
        if (c != '"')
            clean.push_back(c);
    std::size_t start = 0;
    while (start < clean.size() && static_cast<unsigned char>(clean[start]) < '1')
        ++start;
    return clean.substr(start);
}

uint16_t ReadDBL(std::string_view value) {
    double millimetres = 0;
    if (!TryStrToFloatFromDevice(value, millimetres))
        return 0;
    const int64_t hundredths = TruncHundredths(millimetres);
    return (hundredths < 0 || hundredths > 0xFFFF) ? 0 : static_cast<uint16_t>(hundredths);
}

TOMATracer::TOMATracer(QObject* owner) : TTracer(owner) {
    SetBaudRate(9600);
    SetDataBits(8);
    SetParity('N');
    SetStopBits(1);
    SetReadBufSize(12288);
    SetWriteBufSize(2048);
    // A tracer's CRC is not trusted to be right: a mismatch is accepted silently.
    FMachine.SetIgnoreBadCRC(true);
    TCustomMachine::OnRecvData = [this](QObject*) { ProcessReceived(); };
}

void TOMATracer::SetActive(bool value) {
    TTracer::SetActive(value);
    FMachine.ClearDeviceInfo();
}

void TOMATracer::ProcessReceived() {
    if (OnRecvData)
        OnRecvData(this);
    std::exception_ptr firstFailure;
    for (auto gs = FRxBuffer.find(GS); gs != std::string::npos; gs = FRxBuffer.find(GS)) {
        // Whatever stands before the next FS (the tracer's ACK or NAK, noise) is dropped. When a
        // GS is among it, the packet it closed is lost: that is reported as an empty packet
        // ("Zero length request"), and the bytes from the FS on are cut in the next round, so a
        // complete packet behind the stray GS is still answered now.
        const auto fs = FRxBuffer.find(FS);
        std::string packet;
        if (fs != std::string::npos && fs < gs) {
            packet = FRxBuffer.substr(fs, gs - fs + 1);
            FRxBuffer.erase(0, gs + 1);
        } else {
            FRxBuffer.erase(0, fs == std::string::npos ? FRxBuffer.size() : fs);
        }
        try {
            ProcessPacket(std::move(packet));
        } catch (const std::exception& e) {
            if (OnProtocolError)
                OnProtocolError(this, e.what());
            else if (!firstFailure)
                firstFailure = std::current_exception();
        }
    }
    if (firstFailure)
        std::rethrow_exception(firstFailure);
}

void TOMATracer::ProcessPacket(std::string packet) {
    if (OnRecvOMAPacket)
        OnRecvOMAPacket(this, packet);
    FMachine.ParsePacket(packet);

    const std::string req = FMachine.ReceivedValue("REQ");
    const std::string ans = FMachine.ReceivedValue("ANS");
    const std::string def = FMachine.ReceivedValue("DEF");
    const std::string job = FMachine.ReceivedValue("JOB");
    const bool offersTrace = !FMachine.ReceivedValue("TRCFMT").empty();
    const bool offersZ = !FMachine.ReceivedValue("ZFMT").empty();

    if (req == "INF") {
        SendReply(kAck);
        return;
    }
    if (req == "INI" && def.empty()) {
        FMachine.ClearReply();
        FMachine.SetReplyValue("ANS", "INI");
        FMachine.SetReplyValue("STATUS", "0;");
        SendReply(kAck + FMachine.BuildPacket());
        return;
    }
    if (ans == "INI" || !def.empty()) {
        // The codec has already taken this packet as the device records.
        FMachine.ClearReply();
        FMachine.SetReplyValue("ANS", "INI");
        FMachine.SetReplyValue("STATUS", "0");
        FMachine.SetReplyValue("DEF", def + ";" + FMachine.DeviceCode());
        if (offersTrace)
            FMachine.SetReplyValue("TRCFMT", TraceFormatAnswer(FMachine));
        if (offersZ)
            FMachine.SetReplyValue("ZFMT", ZFormatAnswer(FMachine));
        SendReply(kAck + FMachine.BuildPacket());
        return;
    }
    if (!job.empty() &&
        (SameTextAscii("TRC", FMachine.DeviceValue("DEV")) || SameTextAscii("TRC", req) || SameTextAscii("TRC", ans))) {
        // A tracer that starts with a job without initialising is adopted, and told the formats.
        const bool wasInitialized = FMachine.IsInitialized();
        std::string traceAnswer, zAnswer;
        if (!wasInitialized) {
            FMachine.AdoptDevice();
            if (offersTrace)
                traceAnswer = TraceFormatAnswer(FMachine);
            if (offersZ)
                zAnswer = ZFormatAnswer(FMachine);
        }
        ProcessTrace();
        FMachine.ClearReply();
        FMachine.SetReplyValue("ANS", req.empty() ? ans : req);
        FMachine.SetReplyValue("JOB", job);
        FMachine.SetReplyValue("STATUS", "0;\"No Error\"");
        FMachine.SetReplyValue("TRCFMT", traceAnswer); // an empty answer adds nothing
        FMachine.SetReplyValue("ZFMT", zAnswer);
        SendReply(kAck + FMachine.BuildPacket());
        if (OnRecvTrace && !FPoints.empty())
            OnRecvTrace(this);
        return;
    }
    FMachine.ClearReply();
    FMachine.SetReplyValue("JOB", job);
    FMachine.SetReplyValue("ANS", req);
    FMachine.SetReplyValue("STATUS", "5;Needs Initialization");
    SendReply(kAck + FMachine.BuildPacket());
    FMachine.ClearDeviceInfo();
}

void TOMATracer::ProcessTrace() {
    TEyeRec right, left;
    ClearTrace();
    DecodeTraceBlocks(FMachine.Received(), right, left);
    // The left eye is held to the rule the right eye's points are (TTracer::AddPoint): a negative
    // radius refuses the packet, or the job file would give box values its R records contradict.
    for (const int radius : RadiiValues(left.Radii))
        if (radius < 0)
            throw Exception("Invalid point value " + FloatToStr(radius / 100.0));

    FDBL = ReadDBL(FMachine.Received().Value("DBL"));
    SetJobNo(CleanJobNumber(FMachine.ReceivedValue("JOB")));

    // Completing a missing eye: the other eye mirrored, fitted to the missing eye's
    // circumference when the job gives both. A left eye is never made up without one.
    if (right.Radii.empty() != left.Radii.empty()) {
        const std::string circ = FMachine.Received().Value("CIRC");
        const std::string_view both = Trim(circ);
        const auto split = both.find(';');
        if (split != std::string_view::npos) {
            const bool leftMissing = left.Radii.empty();
            const std::string_view wantedText = leftMissing ? both.substr(split + 1) : both.substr(0, split);
            TEyeRec& present = leftMissing ? right : left;
            TEyeRec& missing = leftMissing ? left : right;
            try {
                double wanted = 0;
                if (!TryStrToFloatFromDevice(wantedText, wanted))
                    throw EConvertError("'" + std::string(wantedText) + "' is not a valid floating point value");
                TTraceCalc calc;
                calc.SetTrace(present.Radii);
                calc.SetCircumference(wanted);
                missing.Radii = calc.MirroredTrace();
            } catch (const std::exception&) {
                // The eye stays empty; a job without it is still a job.
            }
        }
        if (right.Radii.empty() && !left.Radii.empty()) {
            TTraceCalc calc;
            calc.SetTrace(left.Radii);
            right.Radii = calc.MirroredTrace();
        }
    }

    for (const int radius : RadiiValues(right.Radii))
        AddPointHundredths(radius);

    if ((!right.Radii.empty() || !left.Radii.empty()) && OnRecvOMATrace)
        OnRecvOMATrace(this, JobNo(), &right, &left, GetDBL() / 100.0);
}

void TOMATracer::SendReply(std::string reply) {
    if (OnSendOMAPacket)
        OnSendOMAPacket(this, reply);
    SendData(reply);
}
