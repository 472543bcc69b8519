// Number conversions with the process-wide decimal separator.
#include "common/Numbers.h"

#include "common/Errors.h"

#include <atomic>
#include <charconv>
#include <cmath>

namespace {
std::atomic<char> gDecimalSeparator{'.'};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// to_chars output always uses '.', whatever the C locale says.
std::string WithSeparator(std::string text) {
    const char separator = DecimalSeparator();
    if (separator != '.') {
        for (char& c : text)
            if (c == '.')
                c = separator;
    }
    return text;
}
} // namespace

char DecimalSeparator() {
    return gDecimalSeparator.load(std::memory_order_relaxed);
}

void SetDecimalSeparator(char separator) {
    gDecimalSeparator.store(separator, std::memory_order_relaxed);
}

std::string FormatFixedPoint(double value, int decimals) {
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "?";
    return std::string(buffer, result.ptr);
}

std::string FormatFixed(double value, int decimals) {
    return WithSeparator(FormatFixedPoint(value, decimals));
}

std::string FloatToStr(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (result.ec != std::errc())
        return "?";
    return WithSeparator(std::string(buffer, result.ptr));
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

bool TryStrToFloat(std::string_view text, double& value) {
    return TryStrToFloat(text, value, DecimalSeparator());
}

bool TryStrToFloatFromDevice(std::string_view text, double& value) {
    return TryStrToFloat(text, value) || (DecimalSeparator() != '.' && TryStrToFloat(text, value, '.'));
}

bool TryStrToFloatPointOrComma(std::string_view text, double& value) {
    return TryStrToFloat(text, value, '.') || TryStrToFloat(text, value, ',');
}

bool TryStrToFloat(std::string_view text, double& value, char separator) {
    text = Trim(text);
    if (text.empty() || text.size() > 256)
        return false;
    // Check the shape first, then hand a normalised copy to from_chars (which never looks at
    // the locale and does not accept a leading '+').
    std::string normal;
    normal.reserve(text.size());
    size_t i = 0;
    if (text[i] == '+' || text[i] == '-') {
        if (text[i] == '-')
            normal.push_back('-');
        ++i;
    }
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        normal.push_back(text[i++]);
        ++digits;
    }
    if (i < text.size() && text[i] == separator) {
        normal.push_back('.');
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            normal.push_back(text[i++]);
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        normal.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            normal.push_back(text[i++]);
        size_t expDigits = 0;
        while (i < text.size() && IsDigit(text[i])) {
            normal.push_back(text[i++]);
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != text.size())
        return false;
    double result = 0;
    // A number beyond the range of a double (either way) is not taken.
    const auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), result);
    if (ec != std::errc() || end != normal.data() + normal.size() || !std::isfinite(result))
        return false;
    value = result;
    return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > 2147483648LL)
            return false;
    }
    if (!negative && magnitude > 2147483647LL)
        return false;
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

int64_t TruncHundredths(double millimetres) {
    const long double hundredths = static_cast<long double>(millimetres) * 100.0L;
    // Beyond what 64 bits carry (or not a number) the value saturates; every caller refuses it.
    constexpr long double kLimit = 9.2e18L;
    if (!(hundredths < kLimit))
        return hundredths > 0 ? INT64_MAX : INT64_MIN;
    if (!(hundredths > -kLimit))
        return INT64_MIN;
    const long double nearest = std::nearbyint(hundredths);
    if (std::fabs(hundredths - nearest) < 1e-6L)
        return static_cast<int64_t>(nearest);
    return static_cast<int64_t>(std::trunc(hundredths));
}
