// Reading a job trace file back: the trace blocks of format 1 with equal angles, and the job
// number from the file name.
#pragma once

#include "common/RecordList.h"

#include <string>
#include <vector>

struct TImportedTraces {
    std::string Rt; // concatenated digits of the radii records of each eye
    std::string Lt;
};

// Header "^TRCFMT\s*=\s*1\s*;\s*(\d+)\s*;\s*E\s*;\s*([RL])" selects the eye; each following
// "^R\s*=\s*([\d;\s]+)" adds the digits of its group to that eye (the left eye while no header has
// been seen, or after an L header); other lines are skipped. Each line is matched on its own.
TImportedTraces ParseTraceFileLines(const std::vector<std::string>& lines);

// Why the lines of a file give no job to show ("the file is empty", "it is not a text file", "it
// holds no trace"); empty when at least one eye has a trace that can be measured. `traces`, when
// given, gets the traces read on the way (as ParseTraceFileLines gives them) once the lines are text.
std::string UnusableTraceFile(const std::vector<std::string>& lines, TImportedTraces* traces = nullptr);

// The file's name without folder and without extension.
std::string JobNumberFromFileName(const std::string& fileName);

// The job of an opened file: its lines as read, the traces of its blocks as "_RtTrace" and
// "_LtTrace" (an eye without points gets none), and "JOB" from the file name.
TRecordList JobFromTraceFile(std::vector<std::string> lines, const std::string& fileName);
