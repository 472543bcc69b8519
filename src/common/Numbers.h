// Number conversions between text and values, following the user's decimal separator.
//
// The separator is held in one place for the whole process. It defaults to "." and the
// application sets it once at start from the user's regional settings; the numbers the operator
// sees and types (edits, messages) follow it. Job trace files travel to other workstations and
// programs, so their numbers are written with a full stop whatever the user's settings say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

char DecimalSeparator();
void SetDecimalSeparator(char separator);

// "%.<decimals>f" with the decimal separator.
std::string FormatFixed(double value, int decimals);

// "%.<decimals>f" with a full stop, whatever the user's separator: numbers in job trace files.
std::string FormatFixedPoint(double value, int decimals);

// The shortest general form with up to 15 significant digits ("%.15g"), with the decimal separator.
std::string FloatToStr(double value);

// Reads a decimal number: optional blanks around it, an optional sign, digits with at most one
// decimal separator, and an optional exponent. Only the current separator is accepted.
bool TryStrToFloat(std::string_view text, double& value);
// As above with a given decimal separator.
bool TryStrToFloat(std::string_view text, double& value, char separator);
// A decimal number written by an instrument: the OMA protocol writes a full stop whatever the
// workstation's regional settings say, so a full stop is accepted besides the user's separator.
bool TryStrToFloatFromDevice(std::string_view text, double& value);

// A number of a job trace file: a full stop, or a comma as a program under another locale may
// have written it, whatever the user's own separator is.
bool TryStrToFloatPointOrComma(std::string_view text, double& value);

// Reads an integer: optional leading blanks, an optional sign and decimal digits, nothing after,
// within the signed 32-bit range.
bool TryStrToInt(std::string_view text, int32_t& value);

// As TryStrToInt; raises EConvertError "'<text>' is not a valid integer value" on failure.
int32_t StrToInt(std::string_view text);

// StrToInt of one four-character group of a radii text. The usual group, four digits, is read
// directly; blanks, a sign or anything else go through StrToInt.
inline int32_t GroupToInt(std::string_view group) {
    const auto digit = [](char c) { return static_cast<unsigned>(c - '0') <= 9; };
    if (group.size() == 4 && digit(group[0]) && digit(group[1]) && digit(group[2]) && digit(group[3]))
        return (group[0] - '0') * 1000 + (group[1] - '0') * 100 + (group[2] - '0') * 10 + (group[3] - '0');
    return StrToInt(group);
}

// A length in millimetres as whole hundredths, truncated toward zero. A value that is a whole
// number of hundredths but not exactly representable (17.99 is 17.98999...) counts as that
// number: plain truncation of value × 100 would turn it into 1798. Values beyond the 64-bit range
// saturate (NaN gives the smallest value).
int64_t TruncHundredths(double millimetres);

// Removes blanks and control characters (bytes up to 0x20) from both ends.
std::string_view Trim(std::string_view text);
