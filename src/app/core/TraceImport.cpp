// Reading the trace blocks of a job trace file back, and the job number of its name.
#include "app/core/TraceImport.h"

#include "app/core/JobKeys.h"
#include "common/Numbers.h"
#include "trace/EyeShape.h"

#include <exception>

#include <string_view>

namespace {
// \s and \d of the patterns in the classic locale.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The patterns are matched by hand. None of them needs backtracking: every \s* is followed by a
// character that white space never is, and \d+ by \s* and ";", which a digit never is.
class TScanner {
public:
    explicit TScanner(std::string_view text) : FText(text) {}

    bool Literal(std::string_view word) {
        if (FText.compare(FAt, word.size(), word) != 0)
            return false;
        FAt += word.size();
        return true;
    }
    void Spaces() {
        while (FAt < FText.size() && IsSpace(FText[FAt]))
            ++FAt;
    }
    bool Digits() {
        const std::size_t start = FAt;
        while (FAt < FText.size() && IsDigit(FText[FAt]))
            ++FAt;
        return FAt > start;
    }
    char Next() const { return FAt < FText.size() ? FText[FAt] : '\0'; }
    std::string_view Rest() const { return FText.substr(FAt); }

private:
    std::string_view FText;
    std::size_t FAt = 0;
};

// "^TRCFMT\s*=\s*1\s*;\s*(\d+)\s*;\s*E\s*;\s*([RL])": the eye letter, or '\0' without a match.
char HeaderEye(std::string_view line) {
    TScanner s(line);
    if (!s.Literal("TRCFMT"))
        return '\0';
    s.Spaces();
    if (!s.Literal("="))
        return '\0';
    s.Spaces();
    if (!s.Literal("1"))
        return '\0';
    s.Spaces();
    if (!s.Literal(";"))
        return '\0';
    s.Spaces();
    if (!s.Digits())
        return '\0';
    s.Spaces();
    if (!s.Literal(";"))
        return '\0';
    s.Spaces();
    if (!s.Literal("E"))
        return '\0';
    s.Spaces();
    if (!s.Literal(";"))
        return '\0';
    s.Spaces();
    const char eye = s.Next();
    return eye == 'R' || eye == 'L' ? eye : '\0';
}

// "^R\s*=\s*([\d;\s]+)" with the non-digits of the group removed, appended to `digits`. Only the
// digits count, so how the white space after "=" is shared between \s* and the group does not
// matter; the group runs to the first character outside [\d;\s].
bool AppendRadiiDigits(std::string_view line, std::string& digits) {
    TScanner s(line);
    if (!s.Literal("R"))
        return false;
    s.Spaces();
    if (!s.Literal("="))
        return false;
    for (const char c : s.Rest()) {
        if (IsDigit(c))
            digits.push_back(c);
        else if (c != ';' && !IsSpace(c))
            break;
    }
    return true;
}
} // namespace

TImportedTraces ParseTraceFileLines(const std::vector<std::string>& lines) {
    TImportedTraces traces;
    char eye = '\0';
    for (const std::string& line : lines) {
        if (const char header = HeaderEye(line))
            eye = header;
        else
            AppendRadiiDigits(line, eye == 'R' ? traces.Rt : traces.Lt);
    }
    return traces;
}

std::string UnusableTraceFile(const std::vector<std::string>& lines, TImportedTraces* parsed) {
    bool blank = true;
    for (const std::string& line : lines) {
        // Line ends are gone; other control characters (a NUL above all) are never in a job file,
        // and copying them into one would make a file no order form can read.
        for (const char c : line)
            if (static_cast<unsigned char>(c) < ' ' && c != '\t' && c != '\f' && c != '\v')
                return "it is not a text file";
        blank = blank && Trim(line).empty();
    }
    if (blank)
        return "the file is empty";
    TImportedTraces own;
    TImportedTraces& traces = parsed ? *parsed : own;
    traces = ParseTraceFileLines(lines);
    // A shape needs a few points around; fewer measure nothing and would be written as a job
    // with a circumference of 0.00.
    constexpr std::size_t kFewestPoints = 3;
    for (const std::string* trace : {&traces.Rt, &traces.Lt}) {
        if (trace->size() / 4 < kFewestPoints)
            continue;
        try {
            const TEyeShape shape(*trace);
            if (shape.Circumference() > 0 && shape.BoxA() > 0 && shape.BoxB() > 0)
                return {};
        } catch (const std::exception&) {
        }
    }
    return "it holds no trace";
}

std::string JobNumberFromFileName(const std::string& fileName) {
    std::string name = fileName.substr(fileName.rfind('/') + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

TRecordList JobFromTraceFile(std::vector<std::string> lines, const std::string& fileName) {
    TRecordList job;
    for (std::string& line : lines)
        job.Add(std::move(line));
    const TImportedTraces traces = ParseTraceFileLines(job.Lines());
    if (!traces.Rt.empty())
        job.SetValue(jobkey::RtTrace, traces.Rt);
    if (!traces.Lt.empty())
        job.SetValue(jobkey::LtTrace, traces.Lt);
    job.SetValue(jobkey::Job, JobNumberFromFileName(fileName));
    return job;
}
