// A small JSON writer for the command-line tools. Byte strings are written with every byte
// outside printable ASCII as \u00XX (the code point of the same value), so any traffic of the
// tracer, control characters included, prints as valid JSON and can be read back byte for byte.
#pragma once

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace json {

inline std::string Quote(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() + 2);
    out.push_back('"');
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (b < 0x20 || b >= 0x7F) {
            out += "\\u00";
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

// The shortest text that reads back as the same double; null for values JSON cannot carry.
inline std::string Number(double value) {
    if (!std::isfinite(value))
        return "null";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

inline std::string Bool(bool value) {
    return value ? "true" : "false";
}

// Builds one object, members in the order they are added.
class Object {
public:
    Object& Raw(std::string_view key, std::string_view json) {
        text_ += text_.empty() ? "{" : ",";
        text_ += Quote(key);
        text_ += ':';
        text_ += json;
        return *this;
    }
    Object& String(std::string_view key, std::string_view value) { return Raw(key, Quote(value)); }
    Object& Num(std::string_view key, double value) { return Raw(key, Number(value)); }
    std::string Str() const { return text_.empty() ? "{}" : text_ + "}"; }

private:
    std::string text_;
};

} // namespace json
