// The simulated tracer's packets decode back to what was meant, the replies it expects are the
// protocol's exact bytes, and its checker names what is wrong with a reply.
#include "Packets.h"

#include "common/Numbers.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace sim;
using namespace std::string_literals;

namespace {

std::string Framed(const std::vector<std::string>& lines) {
    return FramePacket(lines);
}

// Parses a packet as the program's codec does, but insisting on a right CRC.
TOMAMachine Parsed(const std::string& packet) {
    TOMAMachine machine;
    machine.SetIgnoreBadCRC(false);
    machine.ParsePacket(packet);
    return machine;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ---- job packets decode back to the shape ------------------------------------------------------

using TJobCase = std::tuple<int /*format*/, TSimEyes, bool /*Z*/>;

class TracerSimJobPacketFormats : public testing::TestWithParam<TJobCase> {};

TEST_P(TracerSimJobPacketFormats, DecodesBackToTheShape) {
    const auto [format, eyes, withZ] = GetParam();
    TShapeParams params;
    params.Kind = skRoundRect;
    const TJobShape shape = MakeJobShape(params, 400);
    TJobParams job;
    job.JobNumber = "4711";
    job.Format = format;
    job.Eyes = eyes;
    job.WithZ = withZ;

    const TOMAMachine machine = Parsed(Framed(JobPacketLines(job, shape)));
    EXPECT_EQ(machine.ReceivedValue("REQ"), "TRC");
    EXPECT_EQ(machine.ReceivedValue("JOB"), "4711");
    TEyeRec right, left;
    DecodeTraceBlocks(machine.Received(), right, left);
    EXPECT_EQ(right.Radii, eyes != seLeft ? RadiiText(shape.Right) : "");
    EXPECT_EQ(left.Radii, eyes != seRight ? RadiiText(shape.Left) : "");
    EXPECT_EQ(right.ZData, withZ && eyes != seLeft ? RadiiText(shape.RightZ) : "");
    EXPECT_EQ(left.ZData, withZ && eyes != seRight ? RadiiText(shape.LeftZ) : "");
}

INSTANTIATE_TEST_SUITE_P(Formats, TracerSimJobPacketFormats,
                         testing::Combine(testing::Values(1, 2, 3, 4), testing::Values(seRight, seLeft, seBoth),
                                          testing::Bool()),
                         [](const testing::TestParamInfo<TJobCase>& info) {
                             const TSimEyes eyes = std::get<1>(info.param);
                             const char* eye = eyes == seRight ? "RightEye" : eyes == seLeft ? "LeftEye" : "BothEyes";
                             return "Format" + std::to_string(std::get<0>(info.param)) + eye +
                                    (std::get<2>(info.param) ? "WithZ" : "");
                         });

TEST(TracerSimJobPacket, BinaryFormatsCarryControlBytesEscapedOnce) {
    // Radii whose bytes are framing and escape characters: 0x061C, 0x1B1D, 0x0A0D, 0x1E15, 0x1311.
    TJobShape shape;
    shape.Right = {1564, 6941, 2573, 7701, 4881, 0, 9999, 27};
    shape.Left = MirroredRadii(shape.Right);
    for (int format : {2, 3, 4}) {
        TJobParams job;
        job.Format = format;
        job.Eyes = seRight;
        const std::string packet = Framed(JobPacketLines(job, shape));
        // Only the frame itself may hold FS, GS and RS raw.
        EXPECT_EQ(packet.find(oma::FS, 1), std::string::npos) << format;
        EXPECT_EQ(packet.find(oma::GS), packet.size() - 1) << format;
        TEyeRec right, left;
        DecodeTraceBlocks(Parsed(packet).Received(), right, left);
        EXPECT_EQ(right.Radii, RadiiText(shape.Right)) << "format " << format;
    }
}

TEST(TracerSimJobPacket, CarriesTheJobRecordsFirst) {
    const TJobShape shape = MakeJobShape(TShapeParams{}, 400);
    TJobParams job;
    job.JobNumber = "17";
    job.DBL = 17.5;
    job.FrameType = 2;
    job.EdgeType = 3;
    const std::vector<std::string> lines = JobPacketLines(job, shape);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], "REQ=TRC");
    EXPECT_EQ(lines[1], "JOB=17");
    EXPECT_EQ(lines[2], "DBL=17.50");
    const TOutlineMeasures m = MeasureRadii(shape.Right);
    EXPECT_EQ(lines[3], "CIRC=" + MillimetreText(m.Circumference) + ";" + MillimetreText(m.Circumference));
    EXPECT_EQ(lines[4], "HBOX=52.00;52.00");
    EXPECT_EQ(lines[5], "VBOX=38.00;38.00");
    EXPECT_EQ(lines[6], "FTYP=2");
    EXPECT_EQ(lines[7], "ETYP=3");
    EXPECT_EQ(lines[8], "TRCFMT=1;400;E;R;F");
    // Format 1 sends about ten values a record.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("R="); }), 80);
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "TRCFMT=1;400;E;L;F") != lines.end());

    job.Format = 5;
    EXPECT_THROW(JobPacketLines(job, shape), std::invalid_argument);
}

TEST(TracerSimJobPacket, LengthsAlwaysUseAFullStop) {
    // The program reads them with its user's separator; the tracer knows nothing of it.
    SetDecimalSeparator(',');
    const std::string text = MillimetreText(18);
    SetDecimalSeparator('.');
    EXPECT_EQ(text, "18.00");
    EXPECT_EQ(MillimetreText(157.0784), "157.08");
}

// ---- the initialisation packet and the replies the program owes ----------------------------

TEST(TracerSimInitPacket, HoldsTheDeviceAndOffers) {
    TDeviceParams device;
    device.Offers = {"1;400;E;B;F", "4;512;E;B;F"};
    device.WithZ = true;
    const std::vector<std::string> lines = InitPacketLines(device);
    EXPECT_EQ(lines.front(), "DEV=FMT");
    const TOMAMachine machine = Parsed(Framed(lines));
    EXPECT_TRUE(machine.IsInitialized());
    EXPECT_EQ(machine.ReceivedValue("VEN"), "TAKUBO");
    EXPECT_EQ(machine.ReceivedValue("DEF"), machine.ReceivedValue("ENDDEF"));
    EXPECT_EQ(machine.DeviceCode(), ExpectedDeviceCode(device));
    EXPECT_EQ(TraceFormatAnswer(machine), "4;512;E;B");
    EXPECT_EQ(ZFormatAnswer(machine), "4;512;E;B");
}

TEST(TracerSimInitPacket, DeviceCodeIsTheCrcOfTheDeviceRecords) {
    TDeviceParams device;
    device.MachineId = "X1";
    device.Model = "T100";
    EXPECT_EQ(ExpectedDeviceCode(device), "277");
    device.Vendor = "OTHER\r";
    EXPECT_EQ(Parsed(Framed(InitPacketLines(device))).DeviceCode(), ExpectedDeviceCode(device));
}

TEST(TracerSimReplies, AreTheProtocolsExactBytes) {
    EXPECT_EQ(ReplyBytes(IniRequestReplyLines()), "\x06\x1C"
                                                  "ANS=INI\r\nSTATUS=0;\r\n\x1E"
                                                  "CRC=27047\r\n\x1D");
    EXPECT_EQ(LoneAck(), "\x06");

    const std::string jobText = "ANS=TRC\r\nJOB=17\r\nSTATUS=0;\"No Error\"\r\n\x1E";
    EXPECT_EQ(ReplyBytes(JobReplyLines("17")),
              "\x06\x1C" + jobText + "CRC=" + std::to_string(CalcCRC16(jobText)) + "\r\n\x1D");
}

TEST(TracerSimReplies, FollowTheCodecsSortOrder) {
    // Whatever order the program sets its reply records in, its codec sorts them like this.
    TDeviceParams device;
    device.Offers = {"1;400;E;B;F", "4;512;E;B;F"};
    device.WithZ = true;
    const std::vector<std::string> init = InitReplyLines(device, 512);
    ASSERT_EQ(init.size(), 5u);
    TOMAMachine codec;
    for (int k : {4, 2, 0, 3, 1}) {
        const auto eq = init[k].find('=');
        codec.SetReplyValue(init[k].substr(0, eq), init[k].substr(eq + 1));
    }
    EXPECT_EQ(codec.BuildPacket(), Framed(init));
    EXPECT_EQ(init[1], "STATUS=0");
    EXPECT_EQ(init[2], "DEF=SIM;" + ExpectedDeviceCode(device));

    const std::vector<std::string> job = JobReplyLines("9", "1;400;E;R", "1;400;E;R");
    codec.ClearReply();
    for (int k : {3, 4, 2, 1, 0}) {
        const auto eq = job[k].find('=');
        codec.SetReplyValue(job[k].substr(0, eq), job[k].substr(eq + 1));
    }
    EXPECT_EQ(codec.BuildPacket(), Framed(job));
}

TEST(TracerSimReplies, FormatAnswerHonoursTheLargestPointCount) {
    TDeviceParams device;
    device.Offers = {"4;1000;E;B;F"};
    EXPECT_EQ(InitReplyLines(device, 512).back(), "TRCFMT=0");
    EXPECT_EQ(InitReplyLines(device, 1000).back(), "TRCFMT=4;1000;E;B");
    device.Offers.clear();
    EXPECT_EQ(InitReplyLines(device, 512).size(), 3u) << "no offer, no TRCFMT answer";
}

// ---- the reply checker ------------------------------------------------------------------------

std::string WithCrc(const std::string& records, long crc) {
    return "\x06\x1C" + records + "\x1E" + "CRC=" + std::to_string(crc) + "\r\n\x1D";
}

TEST(TracerSimReplyChecker, AcceptsTheExactReplies) {
    const std::vector<std::string> job{ReplyBytes(JobReplyLines("5"))};
    EXPECT_EQ(CheckReply(job[0], job), "");
    const std::vector<std::string> either{ReplyBytes(JobReplyLines("5")), ReplyBytes(JobReplyLines("5", "1;400;E;R"))};
    EXPECT_EQ(CheckReply(either[1], either), "");
    EXPECT_EQ(CheckReply(LoneAck(), std::vector<std::string>{LoneAck()}), "");
}

TEST(TracerSimReplyChecker, NamesWhatIsWrong) {
    const std::string good = "ANS=TRC\r\nJOB=5\r\nSTATUS=0;\"No Error\"\r\n";
    const std::vector<std::string> expected{ReplyBytes(JobReplyLines("5"))};
    auto withRightCrc = [](const std::string& records) { return WithCrc(records, CalcCRC16(records + "\x1E")); };
    const long goodCrc = CalcCRC16(good + "\x1E");
    struct TCase {
        std::string Got;
        std::string Message;
    } cases[] = {
        {withRightCrc("ANS=TRC\r\nJOB=5\r\nSTATUS=5;Needs Initialization\r\n"),
         "STATUS: expected 0;\"No Error\", got 5;Needs Initialization"},
        {withRightCrc("ANS=TRC\r\nJOB=6\r\nSTATUS=0;\"No Error\"\r\n"), "JOB: expected 5, got 6"},
        {WithCrc(good, (goodCrc + 1) % 65536),
         "bad CRC in reply: is " + std::to_string((goodCrc + 1) % 65536) + ", should be " + std::to_string(goodCrc)},
        {expected[0].substr(1), "expected <ack> first, got <fs>ANS=TRC<crlf>"},
        {"", "no reply"},
        {"\x06", "expected <ack> and a reply packet, got a lone <ack>"},
        {"\x06\x1C" + good + "\x1E\x1D", "no proper CRC record (expected CRC=" + std::to_string(goodCrc) + "<crlf>)"},
        {"\x06\x1C" + good + "\x1D", "reply packet has no <rs>"},
        {"\x06X\x1D", "expected <fs> after <ack>, got X<gs>"},
        {withRightCrc("ANS=TRC\r\nJOB=5\r\n"), "missing record STATUS=0;\"No Error\""},
        {withRightCrc(good + "TRCFMT=1;400;E;R\r\n"), "unexpected record TRCFMT=1;400;E;R"},
        {withRightCrc("ANS=TRC\r\nDO=X\r\nSTATUS=0;\"No Error\"\r\n"), "expected record JOB=5, got DO=X"},
    };
    for (const TCase& c : cases) {
        const std::string message = CheckReply(c.Got, expected);
        EXPECT_TRUE(Contains(message, c.Message)) << "got:      " << message << "\nexpected: " << c.Message;
        EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << "one line: " << message;
    }

    const std::vector<std::string> loneAck{LoneAck()};
    EXPECT_TRUE(Contains(CheckReply(expected[0], loneAck), "expected a lone <ack>, got <ack><fs>ANS=TRC"));
}

TEST(TracerSimReplyChecker, ExplainsAgainstTheClosestAlternative) {
    const std::vector<std::string> either{ReplyBytes(JobReplyLines("5")), ReplyBytes(JobReplyLines("5", "1;400;E;R"))};
    const std::string wrongAnswer = ReplyBytes(JobReplyLines("5", "4;512;E;B"));
    EXPECT_TRUE(Contains(CheckReply(wrongAnswer, either), "TRCFMT: expected 1;400;E;R, got 4;512;E;B"))
        << CheckReply(wrongAnswer, either);
}

TEST(TracerSimReplyChecker, RendersOnOneLineAndCutsLongText) {
    EXPECT_EQ(RenderOneLine("\x06\x1C"
                            "A=1\r\n\x1E\x1D"),
              "<ack><fs>A=1<crlf><rs><gs>");
    const std::string rendered = RenderOneLine(std::string(1000, 'x'), 50);
    EXPECT_EQ(rendered, std::string(50, 'x') + "... (1000 bytes)");
}

} // namespace
