// OMA packet codec: CRC, escaping, framing, parsing errors, device records, log rendering.
#include "protocol/OMAMach.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {
const std::string FS = "\x1C", GS = "\x1D", RS = "\x1E", CRLF = "\r\n";

std::string Packet(const std::string& records, const std::string& crcRecord) {
    return FS + records + RS + crcRecord + GS;
}

std::string ParseError(TOMAMachine& m, const std::string& packet) {
    try {
        m.ParsePacket(packet);
    } catch (const EOMAParseException& e) {
        return e.what();
    }
    return "(accepted)";
}
} // namespace

TEST(OMACodec, CrcMatchesXmodemVectors) {
    EXPECT_EQ(CalcCRC16(""), 0);
    EXPECT_EQ(CalcCRC16("123456789"), 12739);
    EXPECT_EQ(CalcCRC16("abc"), 40406);
    EXPECT_EQ(CalcCRC16(RS), 62463);
    // The sliced and byte-wise paths agree at every length and split point.
    std::string text;
    for (int i = 0; i < 300; ++i)
        text.push_back(static_cast<char>(i * 37 + 11));
    for (std::size_t len = 0; len <= text.size(); len += 7) {
        uint16_t bytewise = 0;
        for (std::size_t i = 0; i < len; ++i)
            bytewise = UpdateCRC16(bytewise, text.substr(i, 1));
        EXPECT_EQ(CalcCRC16(text.substr(0, len)), bytewise) << len;
    }
}

TEST(OMACodec, EscapingCoversExactlyTheElevenBytes) {
    const std::string special = "\x06\x0A\x0D\x11\x13\x15\x1A\x1B\x1C\x1D\x1E"s;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string escaped = EscapeText(all);
    EXPECT_EQ(escaped.size(), 256u + special.size());
    for (char c : special)
        EXPECT_NE(escaped.find("\x1B"s + static_cast<char>(static_cast<unsigned char>(c) | 0x80)), std::string::npos);
    EXPECT_EQ(UnescapeText(escaped), all);
    EXPECT_EQ(EscapeText("a\rb"), "a\x1B\x8D"s + "b");
    EXPECT_EQ(UnescapeText("\x1B\x8D"), "\r");
    EXPECT_EQ(UnescapeText("ab\x1B"), "ab\0"s);
    EXPECT_EQ(UnescapeText("\x1B\xC1"), "A"); // any byte after ESC is masked to 7 bits
}

TEST(OMACodec, BuildSortsByRankThenLabelAndFrames) {
    TOMAMachine m;
    EXPECT_EQ(m.BuildPacket(), FS + RS + "CRC=62463" + CRLF + GS);

    m.SetReplyValue("STATUS", "0;");
    m.SetReplyValue("ANS", "INI");
    EXPECT_EQ(m.BuildPacket(), FS + "ANS=INI" + CRLF + "STATUS=0;" + CRLF + RS + "CRC=27047" + CRLF + GS);

    m.ClearReply();
    for (const char* label : {"ZFMT", "a", "TRCFMT", "DEF", "STATUS", "ANS", "DO", "JOB", "DEFX", "AN"})
        m.SetReplyValue(label, "1");
    m.BuildPacket();
    std::vector<std::string> order;
    for (std::size_t i = 0; i < m.Reply().Count(); ++i)
        order.emplace_back(m.Reply().Label(i));
    EXPECT_EQ(order,
              (std::vector<std::string>{"ANS", "JOB", "DO", "STATUS", "AN", "DEF", "DEFX", "TRCFMT", "ZFMT", "a"}));

    m.ClearReply();
    m.SetReplyValue("JOB", "a\rb"); // escaped on the wire, plain in the reply records
    const std::string packet = m.BuildPacket();
    EXPECT_NE(packet.find("JOB=a\x1B\x8D"s + "b\r\n"), std::string::npos);
    EXPECT_EQ(m.ReplyValue("JOB"), "a\rb");
    // Framing alone keeps the order of the lines (a tracer's headers precede their data).
    const std::vector<std::string> lines{"TRCFMT=1;2;E;R", "R=1;2"};
    EXPECT_EQ(FramePacket(lines), FS + "TRCFMT=1;2;E;R\r\nR=1;2\r\n" + RS + "CRC=" +
                                      std::to_string(CalcCRC16("TRCFMT=1;2;E;R\r\nR=1;2\r\n" + RS)) + CRLF + GS);
    // What is built parses back with its CRC checked.
    TOMAMachine back;
    back.ParsePacket(packet);
    EXPECT_EQ(back.ReceivedValue("JOB"), "a\rb");
}

TEST(OMACodec, ParseFailuresInOrderLeaveTheStateAlone) {
    TOMAMachine m;
    m.ParsePacket(Packet("ANS=INI" + CRLF + "DEV=FMT" + CRLF, ""));
    const TRecordList received = m.Received();
    const TRecordList device = m.DeviceInfo();
    const std::string code = m.DeviceCode();

    struct Case {
        std::string packet, message;
    };
    const Case cases[] = {
        {"", "Zero length request"},
        {"REQ=INF" + RS + GS, "Missing packet starting char FS"},
        {FS + "REQ=INF" + RS, "Missing packet ending char GS"},
        {FS, "Missing packet ending char GS"},
        {FS + "REQ=INF" + CRLF + GS, "Missing RS character in packet"},
        {Packet("REQ=INF" + CRLF, "CRC=abc"), "Unknown charcters in CRC from device: "},
        {Packet("REQ=INF" + CRLF, "CRC=99999999999"), "Unknown charcters in CRC from device: 99999999999"},
        {Packet("REQ=INF" + CRLF, "CRC=1" + CRLF), "Bad CRC: is 1, should be 50289"},
        {Packet("REQ=INF" + CRLF, "CRC=0050" + CRLF), "Bad CRC: is 0050, should be 50289"},
        {Packet("ANS=INI" + CRLF + "DEF=X" + CRLF, "CRC=7"), "Bad CRC: is 7, should be 15681"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseError(m, c.packet), c.message) << c.message;
        EXPECT_EQ(m.Received(), received);
        EXPECT_EQ(m.DeviceInfo(), device);
        EXPECT_EQ(m.DeviceCode(), code);
    }
}

TEST(OMACodec, CrcIsCheckedOnlyWhenPresentAndCanBeIgnored) {
    TOMAMachine m;
    m.ParsePacket(FS + "REQ=INF" + CRLF + RS + GS); // no CRC record at all
    EXPECT_EQ(m.ReceivedValue("REQ"), "INF");
    ASSERT_EQ(m.Received().Count(), 2u);
    EXPECT_EQ(m.Received().Line(1), RS);

    m.ParsePacket(Packet("REQ=INF" + CRLF, "CRC=50289" + CRLF));
    m.ParsePacket(Packet("REQ=INF" + CRLF, "CRC=000000000000050289" + CRLF)); // leading zeros do not count
    m.ParsePacket(Packet("REQ=INF" + CRLF, "C5R0C2=89x" + CRLF));             // only the digits are read
    m.SetIgnoreBadCRC(true);
    m.ParsePacket(Packet("REQ=INI" + CRLF, "CRC=1" + CRLF));
    EXPECT_EQ(m.ReceivedValue("REQ"), "INI");
    EXPECT_EQ(ParseError(m, Packet("REQ=INF" + CRLF, "CRC=x")), "Unknown charcters in CRC from device: ");
}

TEST(OMACodec, SplitsLinesOnRunsOfCrAndLf) {
    TOMAMachine m;
    m.ParsePacket(FS + "A=1" + "\r\r\n\n" + "B=2" + "\n" + "C=3" + RS + GS);
    EXPECT_EQ(m.Received().Lines(), (std::vector<std::string>{"A=1", "B=2", "C=3" + RS}));
    EXPECT_EQ(m.ReceivedValue("C"), "3" + RS); // no CR LF before RS: RS stays in the value
    m.ParsePacket(FS + "\r\nA=1\r\n" + RS + GS);
    EXPECT_EQ(m.Received().Lines(), (std::vector<std::string>{"", "A=1", RS}));
    // Values are stored escaped and unescaped on reading.
    m.ParsePacket(FS + "JOB=\x1B\x8D" + "7" + CRLF + RS + GS);
    EXPECT_EQ(m.Received().Line(0), "JOB=\x1B\x8D"
                                    "7");
    EXPECT_EQ(m.ReceivedValue("JOB"), "\r7");
}

TEST(OMACodec, InitialisationPacketsBecomeTheDeviceRecords) {
    TOMAMachine m;
    EXPECT_FALSE(m.IsInitialized());
    const std::string identity = "DEV=FMT" + CRLF + "VEN=TAKUBO" + CRLF + "MID=X1" + CRLF + "MODEL=T100" + CRLF;
    m.ParsePacket(FS + "ANS=INI" + CRLF + identity + RS + GS); // neither DEF nor ENDDEF: equal
    EXPECT_TRUE(m.IsInitialized());
    EXPECT_EQ(m.DeviceCode(), "277");
    EXPECT_EQ(m.DeviceValue("VEN"), "TAKUBO");

    // DEF differing from ENDDEF replaces the device records but keeps the code.
    m.ParsePacket(FS + "DEF=A" + CRLF + "DEV=OTHER" + CRLF + "ENDDEF=B" + CRLF + RS + GS);
    EXPECT_EQ(m.DeviceValue("DEV"), "OTHER");
    EXPECT_EQ(m.DeviceCode(), "277");

    // Other packets leave the device records alone.
    m.ParsePacket(FS + "REQ=TRC" + CRLF + "ANS=ini" + CRLF + RS + GS);
    EXPECT_EQ(m.DeviceValue("DEV"), "OTHER");

    m.AdoptDevice();
    EXPECT_EQ(m.DeviceValue("DEV"), "TRC");
    EXPECT_EQ(m.DeviceValue("ANS"), "ini");
    m.ParsePacket(FS + "JOB=1" + CRLF + RS + GS);
    m.AdoptDevice(); // no REQ: DEV is removed
    EXPECT_EQ(m.DeviceInfo().IndexOf("DEV"), -1);
    m.ClearDeviceInfo();
    EXPECT_FALSE(m.IsInitialized());
}

TEST(OMACodec, MaxNumPointsIgnoresValuesAbove4096) {
    TOMAMachine m;
    EXPECT_EQ(m.MaxNumPoints(), 512);
    m.SetMaxNumPoints(5000);
    EXPECT_EQ(m.MaxNumPoints(), 512);
    m.SetMaxNumPoints(4096);
    EXPECT_EQ(m.MaxNumPoints(), 4096);
    m.SetMaxNumPoints(70000);
    EXPECT_EQ(m.MaxNumPoints(), 4096);
}

TEST(OMACodec, RenderControlCharsForTheLog) {
    EXPECT_EQ(RenderControlChars("\x06\x15\x1B\x1C\x1D\x1E"), "<ack><nak><esc><fs><gs><rs>");
    EXPECT_EQ(RenderControlChars("A=1\r\nB\rC\nD"), "A=1<crlf>\r\nB<cr>\r\nC<lf>\r\nD");
    EXPECT_EQ(RenderControlChars("\x11\x7F\xFF\x01 ~"s), "<#17><#127><#255><#1> ~");
    EXPECT_EQ(RenderControlChars("\x1B\x8D"), "<esc><#141>");
    EXPECT_EQ(RenderControlChars("\0"s), "<#0>");
}
