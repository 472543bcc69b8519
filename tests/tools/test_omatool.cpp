// omatool run as a process: its main paths, its output formats and its errors.
#include "Process.h"

#include "protocol/OMAMach.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {
TProcessResult Omatool(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), OMATOOL_PATH);
    return RunProcess(args, input);
}

std::string Repeat(const std::string& group, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += group;
    return s;
}
} // namespace

TEST(Omatool, ParsePrintsEscapedLinesAndDeviceState) {
    auto r = Omatool({"parse"}, "\x1C"
                                "REQ=INF\r\nJOB=\x1B\x8D\xE9\r\n\x1E"
                                "CRC=" +
                                    std::to_string(CalcCRC16("REQ=INF\r\nJOB=\x1B\x8D\xE9\r\n\x1E")) + "\r\n\x1D");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, R"({"lines":["REQ=INF","JOB=\u001b\u008d\u00e9","\u001e"],"deviceCode":"","initialized":false})"
                     "\n");

    r = Omatool({"parse"}, "\x1C"
                           "ANS=INI\r\nDEV=FMT\r\nVEN=TAKUBO\r\nMID=X1\r\nMODEL=T100\r\n\x1E\x1D");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find(R"("deviceCode":"277","initialized":true)"), std::string::npos) << r.out;
}

TEST(Omatool, ParseReportsTheCodecErrors) {
    const std::string badCrc = "\x1C"
                               "REQ=INF\r\n\x1E"
                               "CRC=1\r\n\x1D";
    auto r = Omatool({"parse"}, badCrc);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "{\"error\":\"Bad CRC: is 1, should be 50289\"}\n");
    r = Omatool({"parse", "--ignore-bad-crc"}, badCrc);
    EXPECT_EQ(r.exitCode, 0);
    r = Omatool({"parse"}, "");
    EXPECT_EQ(r.out, "{\"error\":\"Zero length request\"}\n");
    r = Omatool({"parse", "/nonexistent/packet"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("cannot read"), std::string::npos);
}

TEST(Omatool, BuildWritesTheExactPacket) {
    auto r = Omatool({"build", "STATUS=0;", "ANS=INI"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\x1C"
                     "ANS=INI\r\nSTATUS=0;\r\n\x1E"
                     "CRC=27047\r\n\x1D");
    r = Omatool({"build", "JOB=a\rb", "ANS=TRC", "JOB=7"}); // later values replace earlier ones
    EXPECT_EQ(r.out.substr(0, 21), "\x1C"
                                   "ANS=TRC\r\nJOB=7\r\n\x1E"
                                   "CRC");
    r = Omatool({"build", "NOEQUALS"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty());
}

TEST(Omatool, DecodeBlockInEveryFormat) {
    struct Case {
        std::vector<std::string> args;
        std::string input, out;
        int exitCode;
    };
    const Case cases[] = {
        {{"--format", "1"}, "2479;2472;;950\n", "2479247200000950\n", 0},
        {{"--format", "2"}, "\xAF\x09\xA8\x09", "24792472\n", 0},
        {{"--format", "3"}, "\xAF\x09\xF9\x80\xD0\x07\x05", "2479247220002005\n", 0},
        {{"--format", "4", "--count", "4"}, "\xAF\x09\x00\x80\xF9\x80\x10"s, "2479247224662460\n", 0},
        {{"--format", "2"}, "\x1B\x9B\x00"s, "0027\n", 0}, // an escaped byte is unescaped first
        {{"--format", "2"}, "\x10\x27", "{\"error\":\"value 10000 has no four-character form\"}\n", 1},
        {{"--format", "1"}, "2500;12345", "{\"error\":\"value 12345 has no four-character form\"}\n", 1},
        {{"--format", "4", "--count", "5000"},
         "",
         "{\"error\":\"point count must be a number from 0 to 4096: 5000\"}\n",
         1},
        {{"--format", "4"}, "", "", 2},
        {{"--format", "5"}, "", "", 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"decode-block"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Omatool(args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.out;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Omatool, MeasurePrintsTheGeometryAfterASizeChange) {
    const std::string circle = Repeat("2500", 400);
    auto r = Omatool({"measure", circle});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind(R"({"boxA":50,"boxB":50,"circumference":157.07)", 0), 0u) << r.out.substr(0, 120);
    EXPECT_NE(r.out.find(R"("effectiveDiameter":50,"effectiveDiameterAngle":0,"trace":")" + circle +
                         R"(","mirrored":")" + circle + "\"}"),
              std::string::npos);

    r = Omatool({"measure", circle, "--box-a", "55"});
    EXPECT_NE(r.out.find(R"("trace":"2750275027502749)"), std::string::npos) << r.out.substr(0, 200);
    EXPECT_EQ(r.out.rfind(R"({"boxA":55,"boxB":50,)", 0), 0u);

    r = Omatool({"measure", "-", "--circ", "150"}, circle + "\n");
    EXPECT_NE(r.out.find(R"("trace":")" + Repeat("2387", 400) + "\""), std::string::npos);

    r = Omatool({"measure", "2500abcd"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "{\"error\":\"'abcd' is not a valid integer value\"}\n");
    r = Omatool({"measure", circle, "--circ", "1000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("out of range"), std::string::npos) << r.out;
    r = Omatool({"measure", circle, "--box-a", "x"});
    EXPECT_EQ(r.exitCode, 1);
    r = Omatool({"measure", circle, "--box-a", "50", "--box-b", "40"});
    EXPECT_EQ(r.exitCode, 2);
}
