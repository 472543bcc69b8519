// Trace data formats: field split, decoders, encoders, block walk and format answers.
#include "protocol/TraceFormats.h"

#include "common/Numbers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace {

// The four-character form of every value below 10000, one load per decoded point.
constexpr auto kFourDigits = [] {
    std::array<std::array<char, 4>, 10000> table{};
    for (unsigned v = 0; v < 10000; ++v)
        table[v] = {static_cast<char>('0' + v / 1000), static_cast<char>('0' + v / 100 % 10),
                    static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
    return table;
}();

// Appends a non-negative value with at least four digits, zero-padded on the left.
inline void AppendPadded(std::string& out, uint64_t value) {
    if (value < 10000) {
        out.append(kFourDigits[value].data(), 4);
        return;
    }
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

std::string DecimalText(int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Writes decoded values straight into a string sized once: four characters from a table for the
// usual value, to_chars for a wide one. The cursor and its limit live in locals of the decoding
// loop, as the compiler must assume a character store may change any string it can see.
class TDigitWriter {
public:
    static constexpr std::size_t kRoom = 24; // the widest value to_chars can write

    TDigitWriter(std::string& out, std::size_t expected) : out_(out) {
        out_.resize(expected + kRoom);
        cursor_ = out_.data();
        limit_ = cursor_ + expected;
    }

    // Room for at least kRoom more characters past the cursor.
    void Reserve() {
        if (limit_ - cursor_ < static_cast<std::ptrdiff_t>(kRoom)) [[unlikely]] {
            const std::size_t used = static_cast<std::size_t>(cursor_ - out_.data());
            out_.resize(out_.size() * 2 + 2 * kRoom);
            cursor_ = out_.data() + used;
            limit_ = out_.data() + out_.size() - kRoom;
        }
    }

    void Finish() { out_.resize(static_cast<std::size_t>(cursor_ - out_.data())); }

    char* cursor_;
    char* limit_;

private:
    std::string& out_;
};

inline char* PutFour(char* p, unsigned value) {
    std::memcpy(p, kFourDigits[value].data(), 4);
    return p + 4;
}

// A 16-bit value in at least four digits, zero-padded on the left. The first wide value is kept
// for the width check, which is told once the block is done: no call inside the decoding loop,
// so its state stays in registers.
inline char* PutWord(char* p, unsigned value, unsigned& firstWide) {
    if (value < 10000) [[likely]]
        return PutFour(p, value);
    if (firstWide == 0)
        firstWide = value;
    *p = static_cast<char>('0' + value / 10000);
    return PutFour(p + 1, value % 10000);
}

inline void NoteWide(TWidthCheck* check, unsigned firstWide) {
    if (check != nullptr && firstWide != 0)
        check->Note(DecimalText(firstWide));
}

// Format 3's form of a value: the magnitude with at least four digits, and for a negative value
// its first character replaced by a minus sign.
inline char* PutSigned(char* p, int64_t value, TWidthCheck* check) {
    if (value >= 0 && value < 10000) [[likely]]
        return PutFour(p, static_cast<unsigned>(value));
    if (check != nullptr && (value > 9999 || value < -999))
        check->Note(DecimalText(value));
    if (value >= 0)
        return std::to_chars(p, p + TDigitWriter::kRoom, value).ptr;
    const auto magnitude = static_cast<uint64_t>(-value);
    char* const end = magnitude < 10000 ? PutFour(p, static_cast<unsigned>(magnitude))
                                        : std::to_chars(p, p + TDigitWriter::kRoom, magnitude).ptr;
    *p = '-';
    return end;
}

std::string_view NameOf(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? line : line.substr(0, eq);
}

std::string_view ValueOf(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
}

} // namespace

std::size_t fieldsplit_detail::ReadQuoted(std::string_view text, std::size_t i, std::string& field) {
    field.clear();
    ++i; // opening quote
    while (i < text.size()) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                field.push_back('"');
                i += 2;
                continue;
            }
            return i + 1; // closing quote
        }
        field.push_back(text[i++]);
    }
    return i;
}

std::vector<std::string> SplitFields(std::string_view text) {
    std::vector<std::string> fields;
    ForEachField(text, [&](std::string_view field) { fields.emplace_back(field); });
    return fields;
}

namespace {

// The form tracers send, fields of one to four digits between single separators, written in one
// pass; false (and out as it was) for anything else, which the general field split then takes.
bool AppendPlainDigits(std::string& out, std::string_view value) {
    if (value.empty())
        return false;
    const std::size_t start = out.size();
    // Every field takes at least two characters of the value but for the last one.
    out.resize(start + 2 * value.size() + 4);
    char* p = out.data() + start;
    const char* s = value.data();
    const char* const end = s + value.size();
    for (;;) {
        const char* const field = s;
        unsigned v = 0;
        unsigned digit = 0;
        while (s < end && (digit = static_cast<unsigned char>(*s) - unsigned{'0'}) <= 9) {
            v = v * 10 + digit;
            ++s;
        }
        const auto length = static_cast<std::size_t>(s - field);
        if (length == 0 || length > 4 || (s < end && ((*s != ';' && *s != ',') || s + 1 == end))) {
            out.resize(start);
            return false;
        }
        p = PutFour(p, v);
        if (s == end)
            break;
        ++s;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return true;
}

} // namespace

void AppendAsciiValues(std::string& out, std::string_view value, TWidthCheck* check) {
    if (AppendPlainDigits(out, value))
        return;
    ForEachField(value, [&](std::string_view field) {
        if (field.size() < 4)
            out.append(4 - field.size(), '0');
        else if (field.size() > 4 && check != nullptr)
            check->Note(field);
        out.append(field);
    });
}

std::string DecodeAsciiValues(std::string_view value, TWidthCheck* check) {
    std::string out;
    out.reserve(value.size() + value.size() / 4);
    AppendAsciiValues(out, value, check);
    return out;
}

std::string DecodeBinaryAbsolute(std::string_view escaped, TWidthCheck* check) {
    std::string bytes;
    UnescapeTextInto(escaped, bytes);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t count = bytes.size() / 2;
    std::string out;
    // A 16-bit value has at most five digits: no capacity checks in the loop.
    TDigitWriter writer(out, count * 5);
    char* p = writer.cursor_;
    unsigned firstWide = 0;
    for (std::size_t i = 0; i < count; ++i)
        p = PutWord(p, b[2 * i] | (static_cast<unsigned>(b[2 * i + 1]) << 8), firstWide);
    writer.cursor_ = p;
    NoteWide(check, firstWide);
    writer.Finish();
    return out;
}

std::string DecodeBinaryDifferential(std::string_view escaped, TWidthCheck* check) {
    std::string bytes;
    UnescapeTextInto(escaped, bytes);
    const std::size_t size = bytes.size();
    // Two zero bytes past the end stand for the missing bytes of a cut-off record.
    bytes.append(2, '\0');
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string out;
    TDigitWriter writer(out, size * 4 + 4);
    char* p = writer.cursor_;
    const char* limit = writer.limit_;
    int64_t value = b[0] | (b[1] << 8);
    p = PutSigned(p, value, check);
    std::size_t i = 2;
    while (i < size) {
        const unsigned byte = b[i];
        if (byte == 0x80) {
            value = b[i + 1] | (b[i + 2] << 8);
            i += 3;
        } else {
            value += static_cast<int8_t>(byte);
            i += 1;
        }
        // A running sum can outgrow five digits, so the room is checked per value.
        if (limit - p < static_cast<std::ptrdiff_t>(TDigitWriter::kRoom)) [[unlikely]] {
            writer.cursor_ = p;
            writer.Reserve();
            p = writer.cursor_;
            limit = writer.limit_;
        }
        p = PutSigned(p, value, check);
    }
    writer.cursor_ = p;
    writer.Finish();
    return out;
}

std::string DecodePackedBinary(std::string_view escaped, std::size_t count, TWidthCheck* check) {
    if (count > kMaxPackedPoints)
        return {};
    std::string bytes;
    UnescapeTextInto(escaped, bytes);
    // Past its end a record reads as zero bytes, and every mode takes at most four units (two
    // bytes) for a point from zeros, so this padding spares the reads their bounds checks.
    bytes.append(2 * count + 2, '\0');
    const auto* const b = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t unit = 0; // index of the next 4-bit unit; the high half of each byte comes first
    auto next = [&]() -> unsigned {
        const unsigned byte = b[unit >> 1];
        const unsigned u = (unit & 1) ? (byte & 0x0F) : (byte >> 4);
        ++unit;
        return u;
    };
    enum { kMode16, kMode8, kMode4 } mode = kMode16;
    uint16_t previous = 0;
    uint16_t difference = 0;
    std::string out;
    // A 16-bit value has at most five digits: no capacity checks in the loop.
    TDigitWriter writer(out, count * 5);
    char* p = writer.cursor_;
    unsigned firstWide = 0;
    // A mode switch takes its units without giving a point, hence the loop over points that
    // advances only when a value comes out.
    for (std::size_t point = 0; point < count;) {
        if (mode == kMode4) {
            const unsigned u = next();
            if (u == 8) {
                mode = kMode8;
                continue;
            }
            const int e = static_cast<int>(u ^ 8) - 8; // the unit as a signed 4-bit value
            difference = static_cast<uint16_t>(difference + e);
            previous = static_cast<uint16_t>(previous + difference);
        } else if (mode == kMode8) {
            const unsigned u1 = next(), u2 = next();
            const auto e = static_cast<int8_t>(u1 * 16 + u2);
            if (e == -128 || e == -127) {
                mode = e == -128 ? kMode4 : kMode16;
                continue;
            }
            previous = static_cast<uint16_t>(previous + e);
            difference = static_cast<uint16_t>(e);
        } else {
            const unsigned u1 = next(), u2 = next(), u3 = next(), u4 = next();
            const unsigned v = (u1 * 16 + u2) + 256 * (u3 * 16 + u4);
            if (v == 0x8000) {
                mode = kMode8;
                continue;
            }
            difference = static_cast<uint16_t>(v - previous);
            previous = static_cast<uint16_t>(v);
        }
        p = PutWord(p, previous, firstWide);
        ++point;
    }
    writer.cursor_ = p;
    NoteWide(check, firstWide);
    writer.Finish();
    return out;
}

void DecodeTraceBlocks(const TRecordList& received, TEyeRec& right, TEyeRec& left) {
    const std::size_t n = received.Count();
    std::size_t h = 0;
    std::vector<std::string> fields;
    while (h < n) {
        const std::string_view line = received.Line(h);
        const std::string_view name = NameOf(line);
        const bool isTrace = name == "TRCFMT";
        if (!isTrace && name != "ZFMT") {
            ++h;
            continue;
        }
        const std::string_view header = ValueOf(line);
        fields.clear();
        ForEachField(header, [&](std::string_view field) { fields.emplace_back(field); });
        if (fields.size() < 4)
            throw EOMAParseException("Bad " + std::string(name) + " header: " + std::string(header));

        TEyeRec& eye = fields[3] == "R" ? right : left;
        std::string& target = isTrace ? eye.Radii : eye.ZData;
        const std::string_view dataName = isTrace ? "R" : "Z";
        // Z texts keep wider values (nothing reads them back in groups); radii may not.
        TWidthCheck check;
        TWidthCheck* const checkPtr = isTrace ? &check : nullptr;
        const std::string& format = fields[0];

        if (format == "1") {
            // The data records follow while their name is the one-letter data name: "R=..." (or
            // a bare "R").
            std::size_t r = h + 1;
            for (; r < n; ++r) {
                const std::string_view record = received.Line(r);
                if (record.empty() || record[0] != dataName[0] || (record.size() > 1 && record[1] != '='))
                    break;
                AppendAsciiValues(target, record.substr(std::min<std::size_t>(2, record.size())), checkPtr);
            }
            h = r;
        } else if (format == "2" || format == "3" || format == "4") {
            std::size_t count = 0;
            if (format == "4") {
                int32_t value = 0;
                if (!TryStrToInt(fields[1], value))
                    throw EOMAParseException("Bad point count in " + std::string(name) + " header: " + fields[1]);
                if (value < 0 || static_cast<std::size_t>(value) > kMaxPackedPoints)
                    throw EOMAParseException("Point count out of range in " + std::string(name) + " header: " +
                                             fields[1] + " (0 to " + std::to_string(kMaxPackedPoints) + ")");
                count = static_cast<std::size_t>(value);
            }
            if (h + 1 < n) {
                const std::string_view data = received.Line(h + 1);
                if (data.size() >= 2 && data.substr(0, 1) == dataName && data[1] == '=') {
                    const std::string_view encoded = data.substr(2);
                    if (format == "2")
                        target = DecodeBinaryAbsolute(encoded, checkPtr);
                    else if (format == "3")
                        target = DecodeBinaryDifferential(encoded, checkPtr);
                    else
                        target = DecodePackedBinary(encoded, count, checkPtr);
                }
            }
            h += 2;
        } else {
            ++h;
        }
        if (check.Overflow)
            throw EOMAParseException("TRCFMT block refused: value " + check.FirstValue + " has no four-character form");
    }
}

std::string FormatAnswer(const TRecordList& received, std::string_view label, uint16_t maxNumPoints) {
    std::string answer = "0";
    std::string bestFormat = "0";
    int32_t bestCount = 0;
    bool taken = false;
    for (const std::string& line : received.Lines()) {
        if (!std::string_view(line).starts_with(label))
            continue;
        const auto fields = SplitFields(ValueOf(line));
        int32_t count = 0;
        if (fields.size() < 4 || !TryStrToInt(fields[1], count))
            continue;
        const bool newerFormat = fields[2] == "E" && fields[0] > bestFormat && count <= maxNumPoints;
        const bool morePoints =
            fields[0] == bestFormat && count > bestCount && count <= maxNumPoints && (fields[3] == "B" || !taken);
        if (newerFormat || morePoints) {
            answer = fields[0] + ';' + fields[1] + ';' + fields[2] + ';' + fields[3];
            bestFormat = fields[0];
            bestCount = count;
            taken = true;
        }
    }
    return answer;
}

std::string TraceFormatAnswer(const TOMAMachine& machine) {
    return FormatAnswer(machine.Received(), "TRCFMT", machine.MaxNumPoints());
}

std::string ZFormatAnswer(const TOMAMachine& machine) {
    return FormatAnswer(machine.Received(), "ZFMT", machine.MaxNumPoints());
}

std::vector<std::string> EncodeAsciiRecords(std::span<const int> values, std::string_view label,
                                            std::size_t valuesPerRecord) {
    if (valuesPerRecord == 0)
        throw std::invalid_argument("valuesPerRecord must be at least 1");
    std::vector<std::string> records;
    for (std::size_t i = 0; i < values.size(); i += valuesPerRecord) {
        std::string record(label);
        record.push_back('=');
        for (std::size_t k = i; k < values.size() && k < i + valuesPerRecord; ++k) {
            if (k > i)
                record.push_back(';');
            record += std::to_string(values[k]);
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::string EncodeBinaryAbsolute(std::span<const uint16_t> values) {
    std::string bytes;
    bytes.reserve(values.size() * 2);
    for (uint16_t v : values) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8));
    }
    return EscapeText(bytes);
}

std::string EncodeBinaryDifferential(std::span<const uint16_t> values) {
    std::string bytes;
    if (values.empty())
        return bytes;
    bytes.reserve(values.size() + 8);
    auto absolute = [&](uint16_t v) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    absolute(values[0]);
    for (std::size_t i = 1; i < values.size(); ++i) {
        const int e = static_cast<int>(values[i]) - static_cast<int>(values[i - 1]);
        if (e >= -127 && e <= 127) {
            bytes.push_back(static_cast<char>(static_cast<int8_t>(e)));
        } else {
            bytes.push_back(static_cast<char>(0x80));
            absolute(values[i]);
        }
    }
    return EscapeText(bytes);
}

std::string EncodePackedBinary(std::span<const uint16_t> values) {
    std::vector<unsigned char> units;
    units.reserve(values.size() * 2 + 8);
    auto put8 = [&](unsigned v) {
        units.push_back(static_cast<unsigned char>((v >> 4) & 0xF));
        units.push_back(static_cast<unsigned char>(v & 0xF));
    };
    auto put16 = [&](unsigned v) {
        put8(v & 0xFF);
        put8(v >> 8);
    };
    // Differences are taken modulo 2^16 and seen as signed, as the decoder adds them.
    auto signed16 = [](unsigned v) { return static_cast<int>(static_cast<int16_t>(static_cast<uint16_t>(v))); };
    auto fits8 = [](int e) { return e >= -126 && e <= 127; }; // -128 and -127 switch modes
    auto fits4 = [](int e) { return e >= -7 && e <= 7; };     // -8 switches mode

    enum { kMode16, kMode8, kMode4 } mode = kMode16;
    uint16_t previous = 0;
    int difference = 0; // the decoder's running difference, as a signed 16-bit value
    for (std::size_t i = 0; i < values.size(); ++i) {
        const uint16_t v = values[i];
        const int e = signed16(static_cast<unsigned>(v) - previous);
        const int step = signed16(static_cast<unsigned>(e - difference));
        // Go down to 4-bit mode when this and the next change of difference are both small.
        bool wantFour = fits4(step);
        if (wantFour && i + 1 < values.size()) {
            const int nextE = signed16(static_cast<unsigned>(values[i + 1]) - v);
            wantFour = fits4(signed16(static_cast<unsigned>(nextE - e)));
        }
        if (mode == kMode4) {
            if (fits4(step)) {
                units.push_back(static_cast<unsigned char>(step & 0xF));
                difference = e;
                previous = v;
                continue;
            }
            units.push_back(8); // to 8-bit mode
            mode = kMode8;
        }
        if (mode == kMode16 && fits8(e) && i > 0) {
            put16(0x8000); // to 8-bit mode
            mode = kMode8;
        }
        if (mode == kMode8) {
            if (wantFour && i > 0) {
                put8(0x80); // to 4-bit mode
                units.push_back(static_cast<unsigned char>(step & 0xF));
                mode = kMode4;
                difference = e;
                previous = v;
                continue;
            }
            if (fits8(e)) {
                put8(static_cast<unsigned>(e) & 0xFF);
                difference = e;
                previous = v;
                continue;
            }
            put8(0x81); // to 16-bit mode
            mode = kMode16;
        }
        if (v == 0x8000)
            throw std::invalid_argument("format 4 cannot carry the absolute value 32768 here");
        put16(v);
        difference = e;
        previous = v;
    }
    std::string bytes;
    bytes.reserve(units.size() / 2 + 1);
    for (std::size_t i = 0; i < units.size(); i += 2) {
        const unsigned hi = units[i];
        const unsigned lo = i + 1 < units.size() ? units[i + 1] : 0;
        bytes.push_back(static_cast<char>((hi << 4) | lo));
    }
    return EscapeText(bytes);
}

std::vector<int> RadiiValues(std::string_view radii) {
    std::vector<int> values;
    values.reserve(radii.size() / 4);
    for (std::size_t i = 0; i + 4 <= radii.size(); i += 4)
        values.push_back(GroupToInt(radii.substr(i, 4)));
    return values;
}

std::string RadiiText(std::span<const int> values) {
    std::string out;
    out.reserve(values.size() * 4);
    for (int v : values) {
        if (v < 0 || v > 9999)
            throw std::invalid_argument("radius " + std::to_string(v) + " has no four-character form");
        AppendPadded(out, static_cast<uint64_t>(v));
    }
    return out;
}
