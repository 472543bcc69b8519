// The communication log: every exchange with the tracer as readable lines, in memory only.
// Before every addition, lines are removed from the front until at most 1200 remain; the new
// lines are then appended. Packets are kept as they travelled and rendered only when the log is
// shown, so that logging costs the tracer's reply next to nothing. However long a packet or a
// line, what is kept and shown of it is bounded, and the entry says how much was left out.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class TLogDirection { InFromTracer, OutToTracer };

class TCommLog {
public:
    static constexpr std::size_t MaxLines = 1200;
    // Characters of one line shown (a packet's record as rendered, a message); the rest is named
    // by its count.
    static constexpr std::size_t MaxLineLength = 1000;
    // Characters of one packet kept and shown; a job of 4096 points per eye in format 1 fits.
    static constexpr std::size_t MaxEntryLength = 65536;

    // AddToLog: trims to MaxLines, then appends the text's lines (CR, LF and CR LF each end a
    // line; a line end at the very end makes no empty line).
    void Add(std::string_view text);
    // The separator line of the direction, then the packet as RenderControlChars renders it, one
    // line per record: the lines Add would append for InFromTracerEntry or OutToTracerEntry of
    // the rendered packet.
    void AddPacket(TLogDirection direction, std::string_view packet);
    void Clear();
    std::size_t Count() const { return FCount; }
    // The lines, rendered.
    std::deque<std::string> Lines() const;
    // All lines, each followed by "\n" (for a viewer).
    std::string Text() const;

private:
    struct TEntry {
        bool Packet = false;
        TLogDirection Direction = TLogDirection::InFromTracer;
        std::string Text; // a line as shown, or the packet as kept
        // Where characters of the packet were left out: the position in Text, and how many.
        std::vector<std::pair<std::size_t, std::size_t>> Cuts;
        std::size_t Lines = 1;
        std::size_t Skipped = 0; // lines trimmed from the entry's front
    };
    void Trim();
    static void AppendLines(const TEntry& entry, std::deque<std::string>& lines);

    std::deque<TEntry> FEntries;
    std::size_t FCount = 0;
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
// What stands where characters were left out of a line or a packet.
std::string LeftOutNote(std::size_t count);
