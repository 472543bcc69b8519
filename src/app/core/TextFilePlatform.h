// What the portable and the platform parts of TextFile share: the temporary file's name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace textfile_detail {

// What follows the (shortened) name in a temporary name: the program's own mark, then the random
// part that mkostemp and its Windows counterpart fill in.
inline constexpr std::string_view kTempMark = ".tracer-tmp-";
inline constexpr std::size_t kTempRandomLength = 6;
inline constexpr std::size_t kTempSuffixLength = kTempMark.size() + kTempRandomLength;

// ".<name>.tracer-tmp-XXXXXX", never longer than the final name (from 27 characters on).
std::string TempBaseName(const std::string& baseName);
// True only for a name of that pattern, with a random part of letters and digits.
bool IsTempName(const std::string& name);

} // namespace textfile_detail
