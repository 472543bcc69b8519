// The byte-string helpers: ASCII case-insensitive comparison and the line split.
#include "common/Text.h"

#include <gtest/gtest.h>

TEST(SameTextAscii, OnlyAsciiLettersIgnoreCase) {
    const struct {
        std::string_view A, B;
        bool Same;
    } cases[] = {
        {"", "", true},
        {"TRC", "trc", true},
        {"Com", "cOM", true},
        {"TRC", "TRC ", false},
        {"TRC", "TRD", false},
        // Bytes that differ in the same bit as letters do are not letters.
        {"@", "`", false},
        {"[", "{", false},
        {"^", "~", false},
        {"\xC9", "\xE9", false},
        {std::string_view("a\0", 2), std::string_view("A\0", 2), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameTextAscii(c.A, c.B), c.Same) << c.A << " / " << c.B;
        EXPECT_EQ(SameTextAscii(c.B, c.A), c.Same) << c.B << " / " << c.A;
    }
}

TEST(StartsWithTextAscii, ThePrefixIgnoresCaseAndMayBeTheWholeText) {
    EXPECT_TRUE(StartsWithTextAscii("COM12", "com"));
    EXPECT_TRUE(StartsWithTextAscii("cOm", "COM"));
    EXPECT_TRUE(StartsWithTextAscii("anything", ""));
    EXPECT_FALSE(StartsWithTextAscii("CO", "com"));
    EXPECT_FALSE(StartsWithTextAscii("C@M1", "c`m"));
    EXPECT_FALSE(StartsWithTextAscii("/dev/ttyS0", "com"));
}

TEST(SplitLines, EachLineEndKindEndsALineAndAFinalEndAddsNoEmptyLine) {
    const struct {
        std::string Text;
        std::vector<std::string> Lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"a\r\n", {"a"}},
        {"a\n\n", {"a", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\r\n\r\nx", {"", "", "x"}},
        {std::string("a\0b\x1c", 4), {std::string("a\0b\x1c", 4)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitLines(c.Text), c.Lines) << testing::PrintToString(c.Text);
}
