// Reference decoders for the byte trace formats (2, 3 and 4), kept slow and plain so that they
// can be checked by reading: one step of the format per line, no tables, no padding tricks, no
// shared code with the decoders under test (not even the unescaping). The fuzz target and the
// format tests compare the real decoders against these, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trace_reference {

// ESC and the byte after it stand for that byte with its high bit cleared; an ESC that ends the
// text stands for a zero byte.
inline std::vector<uint8_t> Unescape(std::string_view text) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c != 0x1B) {
            bytes.push_back(c);
        } else if (i + 1 < text.size()) {
            bytes.push_back(static_cast<uint8_t>(static_cast<uint8_t>(text[i + 1]) & 0x7F));
            ++i;
        } else {
            bytes.push_back(0);
        }
    }
    return bytes;
}

// Bytes past the end of a record read as zero.
inline unsigned ByteAt(const std::vector<uint8_t>& bytes, std::size_t i) {
    return i < bytes.size() ? bytes[i] : 0;
}

// A non-negative value in decimal with at least four digits.
inline std::string AtLeastFourDigits(uint64_t value) {
    std::string digits = std::to_string(value);
    while (digits.size() < 4)
        digits.insert(digits.begin(), '0');
    return digits;
}

// Formats 2 and 4 write unsigned 16-bit values.
inline std::string UnsignedText(const std::vector<int64_t>& values) {
    std::string text;
    for (int64_t v : values)
        text += AtLeastFourDigits(static_cast<uint64_t>(v));
    return text;
}

// Format 3 writes the magnitude with at least four digits and, for a negative value, puts a minus
// sign in place of the first of those digits.
inline std::string SignedText(const std::vector<int64_t>& values) {
    std::string text;
    for (int64_t v : values) {
        std::string digits = AtLeastFourDigits(static_cast<uint64_t>(v < 0 ? -v : v));
        if (v < 0)
            digits[0] = '-';
        text += digits;
    }
    return text;
}

// The first value whose text is not four characters long, in the decoders' decimal form; empty
// when every value has a four-character form.
inline std::string FirstWideValue(const std::vector<int64_t>& values, int64_t lowest) {
    for (int64_t v : values)
        if (v > 9999 || v < lowest)
            return std::to_string(v);
    return {};
}

// Format 2: unsigned 16-bit values, low byte first; an odd last byte is ignored.
inline std::vector<int64_t> Format2Values(std::string_view escaped) {
    const std::vector<uint8_t> b = Unescape(escaped);
    std::vector<int64_t> values;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        values.push_back(b[i] + 256 * b[i + 1]);
    return values;
}

// Format 3: the first value from two bytes, then one signed byte per difference; 0x80 announces an
// absolute value in the two bytes after it. The sum is not wrapped.
inline std::vector<int64_t> Format3Values(std::string_view escaped) {
    const std::vector<uint8_t> b = Unescape(escaped);
    std::vector<int64_t> values;
    int64_t value = ByteAt(b, 0) + 256 * ByteAt(b, 1);
    values.push_back(value);
    std::size_t i = 2;
    while (i < b.size()) {
        if (b[i] == 0x80) {
            value = ByteAt(b, i + 1) + 256 * ByteAt(b, i + 2);
            i += 3;
        } else {
            const int difference = b[i] < 128 ? b[i] : b[i] - 256;
            value += difference;
            i += 1;
        }
        values.push_back(value);
    }
    return values;
}

// Format 4: a stream of 4-bit units, high half of each byte first, read in fields of four units
// (16-bit mode), two (8-bit mode) or one (4-bit mode); exactly `count` points, modulo 2^16.
inline std::vector<int64_t> Format4Values(std::string_view escaped, std::size_t count) {
    const std::vector<uint8_t> b = Unescape(escaped);
    std::size_t unit = 0;
    auto nextUnit = [&]() -> int {
        const unsigned byte = ByteAt(b, unit / 2);
        const int u = unit % 2 == 0 ? static_cast<int>(byte / 16) : static_cast<int>(byte % 16);
        ++unit;
        return u;
    };
    auto wrap = [](int64_t v) { return ((v % 65536) + 65536) % 65536; };

    int mode = 16;
    int64_t previous = 0;
    int64_t difference = 0;
    std::vector<int64_t> points;
    while (points.size() < count) {
        if (mode == 16) {
            const int u1 = nextUnit(), u2 = nextUnit(), u3 = nextUnit(), u4 = nextUnit();
            const int64_t v = (u1 * 16 + u2) + 256 * (u3 * 16 + u4);
            if (v == 0x8000) {
                mode = 8;
                continue;
            }
            difference = wrap(v - previous);
            previous = v;
        } else if (mode == 8) {
            const int u1 = nextUnit(), u2 = nextUnit();
            const int byte = u1 * 16 + u2;
            const int e = byte < 128 ? byte : byte - 256;
            if (e == -128) {
                mode = 4;
                continue;
            }
            if (e == -127) {
                mode = 16;
                continue;
            }
            previous = wrap(previous + e);
            difference = wrap(e);
        } else {
            const int u = nextUnit();
            if (u == 8) {
                mode = 8;
                continue;
            }
            const int e = u < 8 ? u : u - 16;
            difference = wrap(difference + e);
            previous = wrap(previous + difference);
        }
        points.push_back(previous);
    }
    return points;
}

inline std::string Format2(std::string_view escaped) {
    return UnsignedText(Format2Values(escaped));
}
inline std::string Format3(std::string_view escaped) {
    return SignedText(Format3Values(escaped));
}
inline std::string Format4(std::string_view escaped, std::size_t count) {
    return UnsignedText(Format4Values(escaped, count));
}

} // namespace trace_reference
