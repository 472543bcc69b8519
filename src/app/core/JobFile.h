// The job trace file: the records written for a job (REQ=FIL, vendor and model, the copied
// tracer records, a format-1 trace block per eye, the box records and the type records), its
// name in the traces folder, and its atomic save.
#pragma once

#include "common/RecordList.h"
#include "trace/EyeShape.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the writer reads of the main window besides the job records.
struct TJobFileInputs {
    std::string RtTraceFmt; // captured formats; an empty capture writes no block for that eye
    std::string LtTraceFmt;
    bool ShapeModified = false;          // recompute HBOX, VBOX, CIRC even when the tracer sent them
    std::optional<std::string> FrameKey; // key of the frame list's selection ("1".."3"), none when nothing is selected
    std::optional<std::string> EdgeKey;  // key of the edge list's selection ("-1", "1".."4")
};

// Appends the R records of one trace text: groups of four characters, each written as four digits
// (a signed or blank-padded number as its value within 0..9999, other text as its digits), 15 to a
// record, joined by ";"; trailing characters that fill no group are dropped; an empty trace
// appends nothing.
void AddRadiiRecords(TRecordList& list, std::string_view trace);

// The records of the file, in file order: the copied records, the box and type records, then the
// trace blocks of the two eyes' shapes (none: no trace), whose box values are taken as measured.
// Numbers are written with a full stop whatever the user's separator, so the file means the same
// on every workstation.
TRecordList BuildTraceFileRecords(const TRecordList& job, const TJobFileInputs& inputs, const TEyeShapePtr& rt,
                                  const TEyeShapePtr& lt);
// The same for a job whose traces are its "_RtTrace" and "_LtTrace" records. They are measured
// only when a box record has to be computed; raises the geometry's error when a trace text then
// cannot be measured.
TRecordList BuildTraceFileRecords(const TRecordList& job, const TJobFileInputs& inputs);

// The file name a job without a job number is saved under, with "-<n>.txt" added.
inline constexpr std::string_view kNoJobNumberName = "no-job-number";

// The longest file name part made from a job number (bytes, ".txt" not counted): well within the
// 255 a file system allows for a name, and leaving room for the folder within Windows' 260
// characters for a whole path.
inline constexpr std::size_t kMaxJobFileStem = 120;

// The job number as the name of its file without ".txt", the same on every system: "/", "\\",
// control characters and the characters Windows cannot store (: * ? " < > |) become "_"; a
// leading "." becomes "_"; a name Windows keeps for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// with or without an extension, any letter case) gets a "_" in front; and a name longer than
// kMaxJobFileStem becomes its first characters, "-" and 8 hex digits of a hash of the whole
// number (`shortened` then says so). Any other name stays as it is.
std::string JobFileStem(std::string_view jobNumber, bool* shortened = nullptr);

// tracesFolder + "/" + JobFileStem(the JOB record) + ".txt"; without a job number, the first
// kNoJobNumberName + "-<n>.txt" that does not exist yet. `shortened`: as JobFileStem.
std::string TraceFileName(const std::string& tracesFolder, const TRecordList& job, bool* shortened = nullptr);

// Creates the folder (errors ignored) and writes the records with CR LF atomically; raises
// EInOutError with the file system's message when the file cannot be written (the previous
// file then stays complete).
void SaveTraceFile(const std::string& fileName, const TRecordList& records);
