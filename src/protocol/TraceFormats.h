// Trace data formats: the field split of header and text records, the four trace encodings
// (decoders, and encoders for the tracer simulator and tests), the walk that decodes the trace
// blocks of a received packet, and the format answers named in replies.
#pragma once

#include "protocol/OMAMach.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One eye's trace as handed to the application.
struct TEyeRec {
    std::string Radii; // four characters per point, radius in 0.01 mm; empty when not traced
    std::string ZData; // four characters per value; empty when none were sent
};
using PEyeRec = TEyeRec*;

namespace fieldsplit_detail {
inline bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
inline bool IsSeparator(char c) {
    return c == ';' || c == ',';
}
// Reads a quoted field starting at text[i] == '"'; a doubled quote stands for one. An unclosed
// quote runs to the end of the text.
std::size_t ReadQuoted(std::string_view text, std::size_t i, std::string& field);
} // namespace fieldsplit_detail

// Calls `onField(field)` for every field of `text`: fields are separated by ';' or ','; runs of
// blanks and control characters end a field and are dropped; two separators in a row give an
// empty field and a separator at the very end gives an empty last field; a field that begins with
// a double quote runs to the closing quote and is taken without its quotes.
template <class Emit> void ForEachField(std::string_view text, Emit&& onField) {
    using namespace fieldsplit_detail;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    std::string quoted;
    while (i < n) {
        if (text[i] == '"') {
            i = ReadQuoted(text, i, quoted);
            onField(std::string_view(quoted));
        } else {
            const std::size_t start = i;
            while (i < n && !IsBlank(text[i]) && !IsSeparator(text[i]))
                ++i;
            onField(text.substr(start, i - start));
        }
        while (i < n && IsBlank(text[i]))
            ++i;
        if (i < n && IsSeparator(text[i])) {
            if (i + 1 == n)
                onField(std::string_view());
            ++i;
            while (i < n && IsBlank(text[i]))
                ++i;
        }
    }
}

std::vector<std::string> SplitFields(std::string_view text);

// What a decoder noticed about the width of what it wrote. A radii text is read in groups of
// four characters, so one value written wider (10000 or more, below -999, or a longer text field)
// would shift every later point. The decoders still write such values; their callers decide.
struct TWidthCheck {
    bool Overflow = false;
    std::string FirstValue; // the first value without a four-character form
    void Note(std::string_view value) {
        if (!Overflow) {
            Overflow = true;
            FirstValue = value;
        }
    }
};

// Format 1: the fields of one text record's value, each left-padded with '0' to four characters
// (a longer field stays as it is).
std::string DecodeAsciiValues(std::string_view value, TWidthCheck* check = nullptr);
void AppendAsciiValues(std::string& out, std::string_view value, TWidthCheck* check = nullptr);
// Format 2: unsigned 16-bit values, low byte first.
std::string DecodeBinaryAbsolute(std::string_view escaped, TWidthCheck* check = nullptr);
// Format 3: a 16-bit value, then signed 8-bit differences, 0x80 announcing an absolute value.
std::string DecodeBinaryDifferential(std::string_view escaped, TWidthCheck* check = nullptr);
// Format 4: a stream of 4-bit units with 16-bit, 8-bit and 4-bit modes; exactly `count` points.
// A count above kMaxPackedPoints decodes nothing (the protocol walk refuses such headers).
constexpr std::size_t kMaxPackedPoints = 4096;
std::string DecodePackedBinary(std::string_view escaped, std::size_t count, TWidthCheck* check = nullptr);

// Decodes the TRCFMT and ZFMT blocks of a packet's received records into the two eye records
// (which the caller has emptied). Raises EOMAParseException for a header with fewer than four
// fields, a format-4 count that is not a number from 0 to kMaxPackedPoints, and a TRCFMT block
// holding a value without a four-character form.
void DecodeTraceBlocks(const TRecordList& received, TEyeRec& right, TEyeRec& left);

// The header this system names in its reply, chosen from the packet's own header records.
std::string FormatAnswer(const TRecordList& received, std::string_view label, uint16_t maxNumPoints);
std::string TraceFormatAnswer(const TOMAMachine& machine);
std::string ZFormatAnswer(const TOMAMachine& machine);

// Encoders, the tracer's side of the same formats. Formats 2 to 4 return the escaped record text
// (what follows "R=" on the wire); values must fit the format (0 to 65535; format 4 cannot carry a
// 16-bit value of exactly 0x8000 when no difference reaches it) or std::invalid_argument is raised.
std::vector<std::string> EncodeAsciiRecords(std::span<const int> values, std::string_view label,
                                            std::size_t valuesPerRecord = 10);
std::string EncodeBinaryAbsolute(std::span<const uint16_t> values);
std::string EncodeBinaryDifferential(std::span<const uint16_t> values);
std::string EncodePackedBinary(std::span<const uint16_t> values);

// Reads a radii text's four-character groups as numbers (blanks before a number and a sign are
// accepted). Raises EConvertError for a group that is not an integer.
std::vector<int> RadiiValues(std::string_view radii);
// The radii text of values 0 to 9999 ("%.4d" per value).
std::string RadiiText(std::span<const int> values);
