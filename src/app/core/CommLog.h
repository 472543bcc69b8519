// The communication log: every exchange with the tracer as readable lines, in memory only.
// Before every addition, lines are removed from the front until at most 1200 remain; the new
// lines are then appended.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

class TCommLog {
public:
    static constexpr std::size_t MaxLines = 1200;

    // AddToLog: trims to MaxLines, then appends the text's lines (CR, LF and CR LF each end a
    // line; a line end at the very end makes no empty line).
    void Add(std::string_view text);
    void Clear() { FLines.clear(); }
    std::size_t Count() const { return FLines.size(); }
    const std::deque<std::string>& Lines() const { return FLines; }
    // All lines, each followed by "\n" (for a viewer).
    std::string Text() const;

private:
    std::deque<std::string> FLines;
};

// The one communication log of the process.
TCommLog& CommLog();

// The separator lines, exactly 37 characters.
inline constexpr std::string_view kInFromTracer = "--------- In from tracer ------------";
inline constexpr std::string_view kOutToTracer = "--------- Out to tracer -------------";

// Separator, CR, the packet as rendered for the log, CR.
std::string InFromTracerEntry(std::string_view renderedPacket);
std::string OutToTracerEntry(std::string_view renderedPacket);
// "Received  Rt Trace: %d data points, Lt Trace: %d data points" with length / 4 of each text.
std::string TraceReceivedEntry(std::size_t rtRadiiLength, std::size_t ltRadiiLength);
