// Building the tracer's packets and checking the program's replies against the protocol.
#include "Packets.h"

#include "common/RecordList.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace sim {

namespace {

std::vector<uint16_t> AsUnsigned(std::span<const int> values) {
    return std::vector<uint16_t>(values.begin(), values.end());
}

// One eye's header and data records. Binary formats go in as raw bytes: FramePacket escapes every
// line, so the encoders' escaped text is unescaped here to be escaped exactly once on the wire.
void AppendBlock(std::vector<std::string>& lines, std::string_view headerLabel, std::string_view dataLabel, int format,
                 char eye, std::span<const int> values) {
    lines.push_back(std::string(headerLabel) + '=' + std::to_string(format) + ';' + std::to_string(values.size()) +
                    ";E;" + eye + ";F");
    if (format == 1) {
        for (std::string& record : EncodeAsciiRecords(values, dataLabel, 10))
            lines.push_back(std::move(record));
        return;
    }
    const std::vector<uint16_t> words = AsUnsigned(values);
    std::string escaped;
    if (format == 2)
        escaped = EncodeBinaryAbsolute(words);
    else if (format == 3)
        escaped = EncodeBinaryDifferential(words);
    else
        escaped = EncodePackedBinary(words);
    lines.push_back(std::string(dataLabel) + '=' + UnescapeText(escaped));
}

// The record lines of a packet as the receiving codec holds them: escaped, CR LF removed.
std::vector<std::string> RecordLines(std::string_view records) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < records.size()) {
        const std::size_t end = records.find_first_of("\r\n", i);
        const std::size_t stop = end == std::string_view::npos ? records.size() : end;
        if (stop > i)
            lines.emplace_back(records.substr(i, stop - i));
        i = stop + 1;
    }
    return lines;
}

std::string_view LabelOf(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

std::size_t CountOf(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t i = text.find(what); i != std::string_view::npos; i = text.find(what, i + what.size()))
        ++n;
    return n;
}

// The reasons a reply packet (ACK already checked) can be wrong, in the order a reader would look.
std::string DiagnosePacket(std::string_view packet, std::string_view expectedPacket) {
    using namespace oma;
    if (packet.front() != FS)
        return "expected <fs> after <ack>, got " + RenderOneLine(packet);
    if (packet.back() != GS)
        return "reply packet does not end with <gs>: " + RenderOneLine(packet);
    const std::size_t rs = packet.find(RS);
    if (rs == std::string_view::npos)
        return "reply packet has no <rs>: " + RenderOneLine(packet);
    const uint16_t crc = CalcCRC16(packet.substr(1, rs));
    const std::string_view crcRecord = packet.substr(rs + 1, packet.size() - rs - 2);
    const std::string wanted = "CRC=" + std::to_string(crc) + "\r\n";
    if (crcRecord != wanted) {
        const bool wellFormed =
            crcRecord.starts_with("CRC=") && crcRecord.ends_with("\r\n") && crcRecord.size() > 6 &&
            std::all_of(crcRecord.begin() + 4, crcRecord.end() - 2, [](char c) { return c >= '0' && c <= '9'; });
        if (wellFormed)
            return "bad CRC in reply: is " + std::string(crcRecord.substr(4, crcRecord.size() - 6)) + ", should be " +
                   std::to_string(crc);
        return "reply packet has no proper CRC record (expected " + RenderOneLine(wanted) + "), got " +
               RenderOneLine(crcRecord);
    }

    const std::vector<std::string> got = RecordLines(packet.substr(1, rs - 1));
    const std::size_t expectedRs = expectedPacket.find(RS);
    const std::vector<std::string> want = RecordLines(expectedPacket.substr(1, expectedRs - 1));
    for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
        if (i >= got.size())
            return "missing record " + RenderOneLine(want[i]);
        if (i >= want.size())
            return "unexpected record " + RenderOneLine(got[i]);
        if (got[i] == want[i])
            continue;
        const std::string_view label = LabelOf(want[i]);
        if (!label.empty() && LabelOf(got[i]) == label)
            return std::string(label) + ": expected " + RenderOneLine(want[i].substr(label.size() + 1)) + ", got " +
                   RenderOneLine(got[i].substr(label.size() + 1));
        return "expected record " + RenderOneLine(want[i]) + ", got " + RenderOneLine(got[i]);
    }
    return "reply differs from the expected bytes: expected " + RenderOneLine(expectedPacket) + ", got " +
           RenderOneLine(packet);
}

} // namespace

std::string MillimetreText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (result.ec != std::errc())
        throw std::invalid_argument("length out of range");
    return std::string(buffer, result.ptr);
}

std::vector<std::string> InfRequestLines() {
    return {"REQ=INF"};
}

std::vector<std::string> IniRequestLines() {
    return {"REQ=INI"};
}

std::vector<std::string> InitPacketLines(const TDeviceParams& device) {
    std::vector<std::string> lines{
        "DEV=FMT",
        "VEN=" + device.Vendor,
        "MID=" + device.MachineId,
        "MODEL=" + device.Model,
        "DEF=" + device.Def,
        // The labels this tracer sends; the program gives D records no meaning of their own.
        "D=JOB;DBL;CIRC;HBOX;VBOX;FTYP;ETYP",
        std::string("D=TRCFMT;R") + (device.WithZ ? ";ZFMT;Z" : ""),
        "ENDDEF=" + device.Def,
    };
    for (const std::string& offer : device.Offers)
        lines.push_back("TRCFMT=" + offer);
    if (device.WithZ)
        for (const std::string& offer : device.Offers)
            lines.push_back("ZFMT=" + offer);
    return lines;
}

std::vector<std::string> JobPacketLines(const TJobParams& job, const TJobShape& shape) {
    if (job.Format < 1 || job.Format > 4)
        throw std::invalid_argument("trace format must be 1 to 4");
    const bool right = job.Eyes != seLeft;
    const bool left = job.Eyes != seRight;
    const TOutlineMeasures r = MeasureRadii(shape.Right);
    const TOutlineMeasures l = MeasureRadii(shape.Left);
    std::vector<std::string> lines{
        "REQ=TRC",
        "JOB=" + job.JobNumber,
        "DBL=" + MillimetreText(job.DBL),
        "CIRC=" + MillimetreText(r.Circumference) + ';' + MillimetreText(l.Circumference),
        "HBOX=" + MillimetreText(r.BoxA) + ';' + MillimetreText(l.BoxA),
        "VBOX=" + MillimetreText(r.BoxB) + ';' + MillimetreText(l.BoxB),
        "FTYP=" + std::to_string(job.FrameType),
        "ETYP=" + std::to_string(job.EdgeType),
    };
    if (right) {
        AppendBlock(lines, "TRCFMT", "R", job.Format, 'R', shape.Right);
        if (job.WithZ)
            AppendBlock(lines, "ZFMT", "Z", job.Format, 'R', shape.RightZ);
    }
    if (left) {
        AppendBlock(lines, "TRCFMT", "R", job.Format, 'L', shape.Left);
        if (job.WithZ)
            AppendBlock(lines, "ZFMT", "Z", job.Format, 'L', shape.LeftZ);
    }
    return lines;
}

std::string ExpectedDeviceCode(const TDeviceParams& device) {
    // The program reads the raw (escaped) values as they travelled.
    const std::string raw =
        EscapeText("FMT") + EscapeText(device.Vendor) + EscapeText(device.MachineId) + EscapeText(device.Model);
    return std::to_string(CalcCRC16(raw) & 0x0FFF);
}

std::string ExpectedFormatAnswer(std::span<const std::string> lines, std::string_view label, uint16_t maxNumPoints) {
    TRecordList received;
    for (const std::string& line : lines)
        received.Add(EscapeText(line));
    return FormatAnswer(received, label, maxNumPoints);
}

std::vector<std::string> IniRequestReplyLines() {
    return {"ANS=INI", "STATUS=0;"};
}

std::vector<std::string> InitReplyLines(const TDeviceParams& device, uint16_t maxNumPoints) {
    const std::vector<std::string> sent = InitPacketLines(device);
    // Unlike the reply to REQ=INI, this STATUS carries no ';'.
    std::vector<std::string> lines{"ANS=INI", "STATUS=0", "DEF=" + device.Def + ';' + ExpectedDeviceCode(device)};
    if (!device.Offers.empty()) {
        lines.push_back("TRCFMT=" + ExpectedFormatAnswer(sent, "TRCFMT", maxNumPoints));
        if (device.WithZ)
            lines.push_back("ZFMT=" + ExpectedFormatAnswer(sent, "ZFMT", maxNumPoints));
    }
    return lines;
}

std::vector<std::string> JobReplyLines(std::string_view jobNumber, std::string_view trcAnswer,
                                       std::string_view zAnswer) {
    std::vector<std::string> lines{"ANS=TRC", "JOB=" + std::string(jobNumber), "STATUS=0;\"No Error\""};
    if (!trcAnswer.empty())
        lines.push_back("TRCFMT=" + std::string(trcAnswer));
    if (!zAnswer.empty())
        lines.push_back("ZFMT=" + std::string(zAnswer));
    return lines;
}

std::string ReplyBytes(std::span<const std::string> lines) {
    return oma::ACK + FramePacket(lines);
}

std::string LoneAck() {
    return std::string(1, oma::ACK);
}

std::string CheckReply(std::string_view got, std::span<const std::string> acceptable) {
    if (acceptable.empty())
        return "no acceptable reply given";
    for (const std::string& reply : acceptable)
        if (got == reply)
            return {};
    // Explain against the acceptable reply with as many records as the one received.
    std::string_view expected = acceptable.front();
    for (const std::string& reply : acceptable)
        if (CountOf(reply, "\r\n") == CountOf(got, "\r\n"))
            expected = reply;

    if (got.empty())
        return "no reply";
    if (got.front() != oma::ACK)
        return "expected <ack> first, got " + RenderOneLine(got);
    if (expected.size() == 1)
        return "expected a lone <ack>, got " + RenderOneLine(got);
    if (got.size() == 1)
        return "expected <ack> and a reply packet, got a lone <ack>";
    return DiagnosePacket(got.substr(1), expected.substr(1));
}

std::string RenderOneLine(std::string_view bytes, std::size_t limit) {
    std::string text = RenderControlChars(bytes);
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    if (text.size() > limit) {
        text.resize(limit);
        text += "... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

} // namespace sim
