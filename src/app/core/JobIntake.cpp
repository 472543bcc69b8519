// Job intake: packet text to record lines, the vendor record, the captured trace formats and the
// cleaned job number.
#include "app/core/JobIntake.h"

#include "common/Numbers.h"

#include <algorithm>
#include <cstring>

namespace {
// The white space of the pattern's \s in the classic locale.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// "^VEN\s*=\s*(\S+)$" at a line start `at`. No backtracking can change the outcome: \s* before
// "=" and the "=" itself take disjoint characters, and \S+ must run up to a line end, so the
// greedy reading is the only one that can match.
bool VendorAt(std::string_view text, std::size_t at, std::string_view& group) {
    if (text.compare(at, 3, "VEN") != 0)
        return false;
    std::size_t i = at + 3;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i == text.size() || text[i] != '=')
        return false;
    ++i;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSpace(text[i]))
        ++i;
    if (i == start || (i < text.size() && !IsLineEnd(text[i])))
        return false;
    group = text.substr(start, i - start);
    return true;
}
} // namespace

TRecordList PacketToRecords(std::string_view packet) {
    TRecordList records;
    std::string line;
    std::size_t i = 0;
    while (i < packet.size()) {
        // Printable runs are copied whole: a job packet is mostly radii records.
        const std::size_t start = i;
        while (i < packet.size() && static_cast<unsigned char>(packet[i]) >= 32 &&
               static_cast<unsigned char>(packet[i]) <= 127)
            ++i;
        line.append(packet.substr(start, i - start));
        if (i == packet.size())
            break;
        const char c = packet[i++];
        if ((c == '\r' || c == '\n') && !line.empty()) {
            records.Add(std::move(line));
            line.clear();
        }
    }
    if (!line.empty())
        records.Add(std::move(line));
    return records;
}

bool FindVendor(const TRecordList& lines, std::string& vendor) {
    // The pattern runs over the joined text: \s* may cross the CR LF between two lines.
    std::size_t size = 0;
    for (const std::string& line : lines.Lines())
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        if (i > 0)
            text.append("\r\n");
        text.append(lines.Line(i));
    }

    // Only line starts are tried; the next CR and the next LF are looked up with memchr and kept
    // until passed, so a text made of one kind of line end stays linear.
    const std::string_view view(text);
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const auto next = [end](const char* from, char c) {
        const void* found = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return found ? static_cast<const char*>(found) : end;
    };
    const char* nextCr = next(begin, '\r');
    const char* nextLf = next(begin, '\n');
    std::string_view group;
    for (const char* at = begin; at < end;) {
        if (VendorAt(view, static_cast<std::size_t>(at - begin), group)) {
            vendor.assign(group);
            return true;
        }
        if (nextCr < at)
            nextCr = next(at, '\r');
        if (nextLf < at)
            nextLf = next(at, '\n');
        const char* lineEnd = std::min(nextCr, nextLf);
        if (lineEnd == end)
            break;
        at = lineEnd + 1;
    }
    return false;
}

TTraceFormats CaptureTraceFormats(const TRecordList& job) {
    TTraceFormats formats;
    for (const std::string& line : job.Lines()) {
        if (Trim(line).substr(0, 7) != "TRCFMT=")
            continue;
        const bool right = line.find("E;R;") != std::string::npos;
        if (!right && line.find("E;L;") == std::string::npos)
            continue;
        (right ? formats.Rt : formats.Lt) = line.substr(line.find('=') + 1, 99);
    }
    return formats;
}

std::string CleanJobDigits(std::string_view job) {
    while (!job.empty() && !(job.front() >= '1' && job.front() <= '9'))
        job.remove_prefix(1);
    while (!job.empty() && !(job.back() >= '0' && job.back() <= '9'))
        job.remove_suffix(1);
    return std::string(job);
}
