// What the portable and the platform parts of TextFile share: the temporary file's name.
#pragma once

#include <cstddef>
#include <string>

namespace textfile_detail {

// The random part of a temporary name: ".XXXXXX".
constexpr std::size_t kTempSuffixLength = 7;

// ".<name>.XXXXXX", never longer than the final name (from 16 characters on).
std::string TempBaseName(const std::string& baseName);
// True for a name of that pattern.
bool IsTempName(const std::string& name);

} // namespace textfile_detail
