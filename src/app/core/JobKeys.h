// The labels of the records the program sets in a job itself. Labels that begin with "_" are the
// program's own and never reach the job trace file: they carry a job's traces as radii text where
// a job travels as records (read from a file, or given to the file writer as records); the job
// session holds the traces as measured shapes instead.
#pragma once

#include <string_view>

namespace jobkey {
inline constexpr std::string_view RtTrace = "_RtTrace";
inline constexpr std::string_view LtTrace = "_LtTrace";

inline constexpr std::string_view Job = "JOB";
inline constexpr std::string_view DBL = "DBL";
inline constexpr std::string_view FrameType = "FTYP";
inline constexpr std::string_view EdgeType = "ETYP";
} // namespace jobkey
