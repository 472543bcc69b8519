// The communication log and the texts the main window adds to it.
#include "app/core/CommLog.h"

#include "app/core/TextFile.h"
#include "protocol/OMAMach.h"

#include <algorithm>

namespace {
// How many of the line's first characters show in at most `room` characters once rendered: a
// control or 8-bit character shows as a name of up to six.
std::size_t FittingPrefix(std::string_view line, std::size_t room) {
    std::size_t shown = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        shown += c >= 0x20 && c < 0x7F ? 1 : RenderControlChars(line.substr(i, 1)).size();
        if (shown > room)
            return i;
    }
    return line.size();
}
} // namespace

std::string LeftOutNote(std::size_t count) {
    return " ... (" + std::to_string(count) + " more characters)";
}

void TCommLog::Trim() {
    while (FCount > MaxLines && !FEntries.empty()) {
        TEntry& front = FEntries.front();
        const std::size_t excess = FCount - MaxLines;
        const std::size_t remaining = front.Lines - front.Skipped;
        if (remaining <= excess) {
            FCount -= remaining;
            FEntries.pop_front();
        } else {
            front.Skipped += excess;
            FCount -= excess;
        }
    }
}

void TCommLog::Add(std::string_view text) {
    // Trimming comes first, so the latest addition is always there in full.
    Trim();
    for (std::string& line : SplitLines(text)) {
        TEntry entry;
        if (line.size() > MaxLineLength) {
            const std::size_t leftOut = line.size() - MaxLineLength;
            line.resize(MaxLineLength);
            line += LeftOutNote(leftOut);
        }
        entry.Text = std::move(line);
        FEntries.push_back(std::move(entry));
        ++FCount;
    }
}

void TCommLog::AddPacket(TLogDirection direction, std::string_view packet) {
    Trim();
    TEntry entry;
    entry.Packet = true;
    entry.Direction = direction;
    std::size_t leftAtEnd = 0;
    if (packet.size() > MaxEntryLength) {
        leftAtEnd = packet.size() - MaxEntryLength;
        packet = packet.substr(0, MaxEntryLength);
    }
    // The rendering ends a line at every CR LF, lone CR and lone LF; with the separator line and
    // the line after the last of them, that makes two lines more than line ends.
    std::string& kept = entry.Text;
    kept.reserve(packet.size());
    std::size_t lines = 2;
    std::size_t at = 0;
    while (at < packet.size()) {
        const std::size_t end = std::min(packet.find_first_of("\r\n", at), packet.size());
        const std::size_t length = end - at;
        // The limit is on what is shown: a line of control characters renders several times longer.
        const std::size_t keep = FittingPrefix(packet.substr(at, std::min(length, MaxLineLength)), MaxLineLength);
        kept.append(packet.substr(at, keep));
        if (length > keep)
            entry.Cuts.emplace_back(kept.size(), length - keep);
        if (end == packet.size())
            break;
        const std::size_t lineEnd = packet[end] == '\r' && end + 1 < packet.size() && packet[end + 1] == '\n' ? 2 : 1;
        kept.append(packet.substr(end, lineEnd));
        ++lines;
        at = end + lineEnd;
    }
    if (leftAtEnd > 0) {
        if (!entry.Cuts.empty() && entry.Cuts.back().first == kept.size())
            entry.Cuts.back().second += leftAtEnd;
        else
            entry.Cuts.emplace_back(kept.size(), leftAtEnd);
    }
    entry.Lines = lines;
    FCount += lines;
    FEntries.push_back(std::move(entry));
}

void TCommLog::Clear() {
    FEntries.clear();
    FCount = 0;
}

void TCommLog::AppendLines(const TEntry& entry, std::deque<std::string>& lines) {
    if (!entry.Packet) {
        lines.push_back(entry.Text);
        return;
    }
    std::string rendered;
    std::size_t from = 0;
    for (const auto& [at, count] : entry.Cuts) {
        rendered += RenderControlChars(std::string_view(entry.Text).substr(from, at - from));
        rendered += LeftOutNote(count);
        from = at;
    }
    rendered += RenderControlChars(std::string_view(entry.Text).substr(from));
    const std::string text =
        entry.Direction == TLogDirection::InFromTracer ? InFromTracerEntry(rendered) : OutToTracerEntry(rendered);
    std::vector<std::string> split = SplitLines(text);
    for (std::size_t i = entry.Skipped; i < split.size(); ++i)
        lines.push_back(std::move(split[i]));
}

std::deque<std::string> TCommLog::Lines() const {
    std::deque<std::string> lines;
    for (const TEntry& entry : FEntries)
        AppendLines(entry, lines);
    return lines;
}

std::string TCommLog::Text() const {
    const std::deque<std::string> lines = Lines();
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 1;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines)
        text.append(line).append(1, '\n');
    return text;
}

TCommLog& CommLog() {
    static TCommLog log;
    return log;
}

namespace {
std::string Entry(std::string_view separator, std::string_view renderedPacket) {
    std::string text;
    text.reserve(separator.size() + renderedPacket.size() + 2);
    text.append(separator).append(1, '\r').append(renderedPacket).append(1, '\r');
    return text;
}
} // namespace

std::string InFromTracerEntry(std::string_view renderedPacket) {
    return Entry(kInFromTracer, renderedPacket);
}

std::string OutToTracerEntry(std::string_view renderedPacket) {
    return Entry(kOutToTracer, renderedPacket);
}

std::string TraceReceivedEntry(std::size_t rtRadiiLength, std::size_t ltRadiiLength) {
    return "Received  Rt Trace: " + std::to_string(rtRadiiLength / 4) +
           " data points, Lt Trace: " + std::to_string(ltRadiiLength / 4) + " data points";
}
