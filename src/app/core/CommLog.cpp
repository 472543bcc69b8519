// The communication log and the texts the main window adds to it.
#include "app/core/CommLog.h"

#include "app/core/TextFile.h"

void TCommLog::Add(std::string_view text) {
    // Trimming comes first, so the latest addition is always there in full.
    while (FLines.size() > MaxLines)
        FLines.pop_front();
    for (std::string& line : SplitLines(text))
        FLines.push_back(std::move(line));
}

std::string TCommLog::Text() const {
    std::size_t size = 0;
    for (const std::string& line : FLines)
        size += line.size() + 1;
    std::string text;
    text.reserve(size);
    for (const std::string& line : FLines)
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
