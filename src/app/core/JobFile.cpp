// The job trace file: its records, its name and its saving.
#include "app/core/JobFile.h"

#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"
#include "common/Numbers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

namespace {
constexpr std::size_t kGroupSize = 4;
constexpr std::size_t kGroupsPerRecord = 15;

// Names Windows keeps for devices, whatever the extension: "CON.txt" is the console there.
bool IsReservedDeviceName(std::string_view stem) {
    std::string base(stem.substr(0, stem.find('.')));
    // Windows also ignores trailing blanks before the extension ("NUL .txt").
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' && base[3] <= '9';
}

uint32_t Fnv1a32(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

// Records of the tracer that the file writes itself (or never writes, like the Z data).
constexpr std::array<std::string_view, 10> kNotCopied = {"JOB", "R",   "VEN",   "Z",      "CRC",
                                                         "ANS", "REQ", "MODEL", "TRCFMT", "ZFMT"};

// The reader of the file trims labels and ignores their letter case ("R =" is radii, "JoB" is
// the job number), so a tracer record that reads back as one of the program's own is not copied:
// it would come back as a point of a trace or stand in for a record the file writes itself.
bool IsCopied(std::string_view line) {
    const std::string_view name = TRecordList::LabelOfLine(line);
    if (name.empty() || name.front() < 'A' || name.front() > 'Z')
        return false;
    const std::string_view trimmed = Trim(name);
    for (const std::string_view excluded : kNotCopied)
        if (SameTextAscii(trimmed, excluded))
            return false;
    return true;
}

// The numbers the program reads back from a job file. A program on a workstation with a decimal
// comma may have written them with one; a file this program writes holds a full stop, so that it
// means the same to the order form and to this program in any locale.
constexpr std::array<std::string_view, 4> kNumberRecords = {"DBL", "HBOX", "VBOX", "CIRC"};

// Each ";" field that is a number with a decimal comma gets a full stop; any other text stays.
std::string WithFullStops(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t start = 0;;) {
        const std::size_t end = value.find(';', start);
        std::string field(value.substr(start, end == std::string_view::npos ? end : end - start));
        double number = 0;
        if (field.find(',') != std::string::npos && TryStrToFloat(field, number, ','))
            std::replace(field.begin(), field.end(), ',', '.');
        out += field;
        if (end == std::string_view::npos)
            return out;
        out += ';';
        start = end + 1;
    }
}

// One point as four digits. The tracer may send a radius with blanks or a sign (" 922", "+922");
// written as it came, the reader, which keeps only digits, would shift every later point.
void AppendFourDigits(std::string& out, std::string_view group) {
    int32_t value = 0;
    if (!TryStrToInt(group, value)) {
        // Not a number: its digits, as the reader would take them.
        value = 0;
        for (const char c : group)
            if (c >= '0' && c <= '9')
                value = value * 10 + (c - '0');
    }
    value = std::clamp(value, 0, 9999);
    char text[5];
    std::snprintf(text, sizeof text, "%04d", value);
    out.append(text, 4);
}

void AddTraceBlock(TRecordList& list, const std::string& format, const std::string& trace, char eye) {
    if (format < "1")
        return;
    // Whatever format the tracer used, the file holds format 1 at equal angles; only the trace
    // type letter is the tracer's own.
    std::string header = "TRCFMT=1;" + std::to_string(trace.size() / kGroupSize) + ";E;";
    header.push_back(eye);
    header.push_back(';');
    // The type letter is the last field of the tracer's record; a record that ends in an empty
    // field names no type, and a frame trace is what the tracer sends without one.
    const char type = format.back();
    header.push_back(type == ';' || type == ' ' ? 'F' : type);
    list.Add(std::move(header));
    AddRadiiRecords(list, trace);
}

// The two eyes' shapes, right and left (none: no trace), asked for only when a box record has to
// be computed: a job whose tracer sent every box record never needs them measured.
using TShapesOf = std::function<std::pair<TEyeShapePtr, TEyeShapePtr>()>;

class TBoxValues {
public:
    explicit TBoxValues(TShapesOf shapes) : FShapes(std::move(shapes)) {}

    std::string Text(double (TEyeShape::*measure)() const) {
        if (!FAsked) {
            const auto [rt, lt] = FShapes();
            // An eye without a trace takes the other eye's values.
            FRight = rt ? rt : lt;
            FLeft = lt ? lt : rt;
            FAsked = true;
        }
        return FormatFixedPoint(Of(FRight, measure), 2) + ";" + FormatFixedPoint(Of(FLeft, measure), 2);
    }

private:
    static double Of(const TEyeShapePtr& shape, double (TEyeShape::*measure)() const) {
        return shape ? ((*shape).*measure)() : 0;
    }

    TShapesOf FShapes;
    bool FAsked = false;
    TEyeShapePtr FRight;
    TEyeShapePtr FLeft;
};

void ApplyTypeRule(TRecordList& list, const TJobFileInputs& inputs) {
    std::optional<std::string> frame;
    std::optional<std::string> edge;
    if (inputs.FrameKey && *inputs.FrameKey > "0")
        frame = *inputs.FrameKey;
    if (inputs.EdgeKey && *inputs.EdgeKey > "0")
        edge = *inputs.EdgeKey;
    // A rimless edge can only be cut for a rimless frame.
    if ((edge ? *edge : list.Value("ETYP")) == "2")
        frame = "3";
    // The values are settled first and written afterwards, so records that are new land in the
    // order FTYP, ETYP whichever rule produced them.
    // "0" is no frame type, and the record goes; every copy of it, or a reopened file would
    // show the next one and the rewrite would differ.
    if ((frame ? *frame : list.Value("FTYP")) == "0")
        while (list.IndexOf("FTYP") >= 0)
            list.SetValue("FTYP", "");
    else if (frame)
        list.SetValue("FTYP", *frame);
    if (edge)
        list.SetValue("ETYP", *edge);
}
} // namespace

void AddRadiiRecords(TRecordList& list, std::string_view trace) {
    const std::size_t groups = trace.size() / kGroupSize;
    for (std::size_t first = 0; first < groups; first += kGroupsPerRecord) {
        const std::size_t count = std::min(kGroupsPerRecord, groups - first);
        std::string record;
        record.reserve(2 + count * (kGroupSize + 1));
        record.append("R=");
        for (std::size_t g = first; g < first + count; ++g) {
            if (g > first)
                record.push_back(';');
            AppendFourDigits(record, trace.substr(g * kGroupSize, kGroupSize));
        }
        list.Add(std::move(record));
    }
}

namespace {
TRecordList BuildRecords(const TRecordList& job, const TJobFileInputs& inputs, const std::string& rt,
                         const std::string& lt, TShapesOf shapes) {
    TRecordList list;
    list.SetValue("REQ", "FIL");
    list.SetValue("VEN", job.Value("VEN"));
    list.SetValue("MODEL", job.Value("MODEL"));
    for (const std::string& line : job.Lines())
        if (IsCopied(line))
            list.Add(line);
    for (const std::string_view label : kNumberRecords)
        if (const std::string value = list.Value(label); value.find(',') != std::string::npos)
            list.SetValue(label, WithFullStops(value));

    // Box and type records that the tracer did not send are added before the trace blocks, where
    // a reopened file's copied records stand: a job reopened and rewritten keeps its bytes.
    TBoxValues boxes(std::move(shapes));
    if (inputs.ShapeModified || list.Value("HBOX").empty())
        list.SetValue("HBOX", boxes.Text(&TEyeShape::BoxA));
    if (inputs.ShapeModified || list.Value("VBOX").empty())
        list.SetValue("VBOX", boxes.Text(&TEyeShape::BoxB));
    if (inputs.ShapeModified || list.Value("CIRC").empty())
        list.SetValue("CIRC", boxes.Text(&TEyeShape::Circumference));

    ApplyTypeRule(list, inputs);

    AddTraceBlock(list, inputs.RtTraceFmt, rt, 'R');
    AddTraceBlock(list, inputs.LtTraceFmt, lt, 'L');
    return list;
}
} // namespace

TRecordList BuildTraceFileRecords(const TRecordList& job, const TJobFileInputs& inputs, const TEyeShapePtr& rt,
                                  const TEyeShapePtr& lt) {
    static const std::string none;
    // Measured already: the box values are taken from the shapes as they are.
    return BuildRecords(job, inputs, rt ? rt->Radii() : none, lt ? lt->Radii() : none, [&] {
        return std::pair{rt, lt};
    });
}

TRecordList BuildTraceFileRecords(const TRecordList& job, const TJobFileInputs& inputs) {
    const std::string rt = job.Value(jobkey::RtTrace);
    const std::string lt = job.Value(jobkey::LtTrace);
    return BuildRecords(job, inputs, rt, lt, [&] {
        return std::pair<TEyeShapePtr, TEyeShapePtr>{MakeEyeShape(rt), MakeEyeShape(lt)};
    });
}

std::string TraceFileName(const std::string& tracesFolder, const TRecordList& job, bool* shortened) {
    const std::string stem = JobFileStem(job.Value("JOB"), shortened);
    if (!stem.empty())
        return tracesFolder + "/" + stem + ".txt";
    // No job number at all would make the hidden file ".txt", which every such job overwrites:
    // each gets a visible name of its own instead.
    for (unsigned n = 1;; ++n) {
        std::string name = tracesFolder + "/" + std::string(kNoJobNumberName) + "-" + std::to_string(n) + ".txt";
        if (!FileExists(name))
            return name;
    }
}

std::string JobFileStem(std::string_view jobNumber, bool* shortened) {
    if (shortened)
        *shortened = false;
    // The job number comes from the tracer or from a file name. A path separator in it would put
    // the file outside the traces folder; the characters Windows cannot store in a name are
    // replaced on every system alike, so a traces folder can move between them.
    std::string stem(jobNumber);
    for (char& c : stem)
        if (static_cast<unsigned char>(c) < 32 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    // Nor may it make a hidden file (".x.txt"), which the operator would not find.
    if (!stem.empty() && stem.front() == '.')
        stem.front() = '_';
    if (IsReservedDeviceName(stem))
        stem.insert(0, 1, '_');
    if (stem.size() <= kMaxJobFileStem)
        return stem;
    // Too long for a file name: a visible prefix, cut between whole UTF-8 characters, and a hash
    // of the whole number, so that two long numbers with one prefix still get files of their own.
    std::size_t keep = kMaxJobFileStem - 9;
    while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
        --keep;
    char hash[16];
    std::snprintf(hash, sizeof hash, "-%08x", static_cast<unsigned>(Fnv1a32(jobNumber)));
    if (shortened)
        *shortened = true;
    return stem.substr(0, keep) + hash;
}

void SaveTraceFile(const std::string& fileName, const TRecordList& records) {
    const auto slash = fileName.rfind('/');
    if (slash != std::string::npos && slash > 0)
        CreateFolder(fileName.substr(0, slash));
    WriteFileAtomically(fileName, JoinLinesCRLF(records));
}
