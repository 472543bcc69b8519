// The labels of the records the program sets in a job itself. Labels that begin with "_" are the
// program's own: they hold the traces and Z data as the program works on them and never reach
// the job trace file.
#pragma once

#include <string_view>

namespace jobkey {
inline constexpr std::string_view RtTrace = "_RtTrace";
inline constexpr std::string_view RtZData = "_RtZData";
inline constexpr std::string_view LtTrace = "_LtTrace";
inline constexpr std::string_view LtZData = "_LtZData";

inline constexpr std::string_view Job = "JOB";
inline constexpr std::string_view DBL = "DBL";
inline constexpr std::string_view FrameType = "FTYP";
inline constexpr std::string_view EdgeType = "ETYP";
} // namespace jobkey
