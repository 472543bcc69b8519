// OMA packet codec.
#include "protocol/OMAMach.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using namespace oma;

namespace {

// Slicing-by-8 tables: kCrcTables[k][x] is the CRC contribution of byte x followed by k zero bytes.
constexpr std::array<std::array<uint16_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<uint16_t, 256>, 8> tables{};
    for (unsigned x = 0; x < 256; ++x) {
        uint16_t crc = static_cast<uint16_t>(x << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        tables[0][x] = crc;
    }
    for (int k = 1; k < 8; ++k)
        for (unsigned x = 0; x < 256; ++x) {
            const uint16_t prev = tables[k - 1][x];
            tables[k][x] = static_cast<uint16_t>((prev << 8) ^ tables[0][prev >> 8]);
        }
    return tables;
}
constexpr auto kCrcTables = MakeCrcTables();

constexpr std::array<bool, 256> MakeEscapeSet() {
    std::array<bool, 256> set{};
    for (unsigned char c : {0x06, 0x0A, 0x0D, 0x11, 0x13, 0x15, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E})
        set[c] = true;
    return set;
}
constexpr auto kMustEscape = MakeEscapeSet();

void AppendDecimal(std::string& out, unsigned value) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        out.push_back(digits[--n]);
}

} // namespace

uint16_t UpdateCRC16(uint16_t crc, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    while (n >= 8) {
        crc = static_cast<uint16_t>(kCrcTables[7][p[0] ^ (crc >> 8)] ^ kCrcTables[6][p[1] ^ (crc & 0xFF)] ^
                                    kCrcTables[5][p[2]] ^ kCrcTables[4][p[3]] ^ kCrcTables[3][p[4]] ^
                                    kCrcTables[2][p[5]] ^ kCrcTables[1][p[6]] ^ kCrcTables[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        crc = static_cast<uint16_t>((crc << 8) ^ kCrcTables[0][((crc >> 8) ^ *p++) & 0xFF]);
    return crc;
}

uint16_t CalcCRC16(std::string_view text) {
    return UpdateCRC16(0, text);
}

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (kMustEscape[b]) {
            out.append(text.data() + runStart, i - runStart);
            out.push_back(ESC);
            out.push_back(static_cast<char>(b | 0x80));
            runStart = i + 1;
        }
    }
    out.append(text.data() + runStart, text.size() - runStart);
}

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    AppendEscaped(out, text);
    return out;
}

void UnescapeTextInto(std::string_view text, std::string& out) {
    // The result is never longer than the text: written through a pointer, without a capacity
    // check per byte.
    out.resize(text.size());
    char* o = out.data();
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* esc = static_cast<const char*>(std::memchr(p, ESC, static_cast<std::size_t>(end - p)));
        if (esc == nullptr) {
            std::memcpy(o, p, static_cast<std::size_t>(end - p));
            o += end - p;
            break;
        }
        std::memcpy(o, p, static_cast<std::size_t>(esc - p));
        o += esc - p;
        p = esc;
        // Escapes come in runs in binary records (the differences of a smooth outline repeat):
        // the bytes are taken one at a time until a stretch without an escape, where searching
        // pays again.
        const char* quietFrom = p;
        while (p < end && p - quietFrom < 16) {
            char c = *p++;
            if (c == ESC) {
                c = p < end ? static_cast<char>(*p++ & 0x7F) : '\0';
                quietFrom = p;
            }
            *o++ = c;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
}

std::string UnescapeText(std::string_view text) {
    std::string out;
    UnescapeTextInto(text, out);
    return out;
}

std::string RenderControlChars(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        switch (b) {
        case 0x06:
            out += "<ack>";
            break;
        case 0x15:
            out += "<nak>";
            break;
        case 0x1B:
            out += "<esc>";
            break;
        case 0x1C:
            out += "<fs>";
            break;
        case 0x1D:
            out += "<gs>";
            break;
        case 0x1E:
            out += "<rs>";
            break;
        case 0x0D:
            if (i + 1 < text.size() && text[i + 1] == LF) {
                out += "<crlf>\r\n";
                ++i;
            } else {
                out += "<cr>\r\n";
            }
            break;
        case 0x0A:
            out += "<lf>\r\n";
            break;
        default:
            if (b < 0x20 || b >= 0x7F) {
                out += "<#";
                AppendDecimal(out, b);
                out += '>';
            } else {
                out.push_back(static_cast<char>(b));
            }
        }
    }
    return out;
}

void TOMAMachine::SetMaxNumPoints(unsigned value) {
    if (value <= kLargestMaxNumPoints)
        FMaxNumPoints = static_cast<uint16_t>(value);
}

void TOMAMachine::AdoptDevice() {
    FDeviceInfo.Assign(FReceived);
    FDeviceInfo.SetValue("DEV", FReceived.Value("REQ"));
}

void TOMAMachine::ParsePacket(std::string_view packet) {
    if (packet.empty())
        throw EOMAParseException("Zero length request");
    if (packet.front() != FS)
        throw EOMAParseException("Missing packet starting char FS");
    if (packet.back() != GS)
        throw EOMAParseException("Missing packet ending char GS");
    const auto rs = packet.find(RS);
    if (rs == std::string_view::npos)
        throw EOMAParseException("Missing RS character in packet");

    // The records and the RS they end with: what the CRC covers and what is split into lines.
    const std::string_view body = packet.substr(1, rs);

    if (rs + 1 < packet.size() - 1) {
        const uint16_t crc = CalcCRC16(body);
        std::string digits;
        for (char c : packet.substr(rs + 1))
            if (c >= '0' && c <= '9')
                digits.push_back(c);
        // The digits are read as one signed 32-bit number; leading zeros do not count.
        const auto significant = digits.find_first_not_of('0');
        const std::string_view number =
            significant == std::string::npos ? std::string_view() : std::string_view(digits).substr(significant);
        if (digits.empty() || number.size() > 10 || (number.size() == 10 && number > "2147483647"))
            throw EOMAParseException("Unknown charcters in CRC from device: " + digits);
        uint32_t value = 0;
        for (char c : number)
            value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value != crc && !FIgnoreBadCRC) {
            std::string message = "Bad CRC: is " + digits + ", should be ";
            AppendDecimal(message, crc);
            throw EOMAParseException(message);
        }
    }

    FReceived.Clear();
    std::size_t i = 0;
    if (!body.empty() && (body[0] == CR || body[0] == LF)) {
        FReceived.Add(std::string());
    }
    while (i < body.size()) {
        while (i < body.size() && (body[i] == CR || body[i] == LF))
            ++i;
        const std::size_t start = i;
        while (i < body.size() && body[i] != CR && body[i] != LF)
            ++i;
        if (i > start)
            FReceived.Add(std::string(body.substr(start, i - start)));
    }

    if (FReceived.Value("ANS") == "INI" || !FReceived.Value("DEF").empty()) {
        FDeviceInfo.Assign(FReceived);
        if (FReceived.Value("DEF") == FReceived.Value("ENDDEF")) {
            const std::string identity =
                FReceived.Value("DEV") + FReceived.Value("VEN") + FReceived.Value("MID") + FReceived.Value("MODEL");
            FDeviceCode.clear();
            AppendDecimal(FDeviceCode, CalcCRC16(identity) & 0x0FFF);
        }
    }
}

std::string TOMAMachine::BuildPacket() {
    // Order: ANS and REQ, JOB, DO, STATUS, then every other label; equal ranks by label, ordinal
    // and case-sensitive. The keys are taken once, then indexes are sorted (stable).
    struct TKey {
        int rank;
        std::string_view label;
    };
    const std::size_t n = FReply.Count();
    std::vector<TKey> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view label = TRecordList::LabelOfLine(FReply.Line(i));
        int rank = 4;
        if (label == "ANS" || label == "REQ")
            rank = 0;
        else if (label == "JOB")
            rank = 1;
        else if (label == "DO")
            rank = 2;
        else if (label == "STATUS")
            rank = 3;
        keys[i] = {rank, label};
    }
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (keys[a].rank != keys[b].rank)
            return keys[a].rank < keys[b].rank;
        return keys[a].label < keys[b].label;
    });
    FReply.Reorder(order);
    return FramePacket(FReply.Lines());
}

std::string FramePacket(std::span<const std::string> lines) {
    std::size_t size = 16;
    for (const std::string& line : lines)
        size += line.size() + 2;
    std::string packet;
    packet.reserve(size + size / 8);
    packet.push_back(FS);
    for (const std::string& line : lines) {
        AppendEscaped(packet, line);
        packet += "\r\n";
    }
    packet.push_back(RS);
    const uint16_t crc = CalcCRC16(std::string_view(packet).substr(1));
    packet += "CRC=";
    AppendDecimal(packet, crc);
    packet += "\r\n";
    packet.push_back(GS);
    return packet;
}
