// Line splitting and joining, and the naming rules of the rewrite's temporary files; the file
// system calls are the platform's (TextFile_posix.cpp, TextFile_win32.cpp).
#include "app/core/TextFile.h"
#include "app/core/TextFilePlatform.h"

#include <algorithm>
#include <cctype>

namespace textfile_detail {

// The temporary file of a rewrite: ".<name>.tracer-tmp-XXXXXX". The mark lets the start-up cleaning
// tell the program's own leftovers from anybody else's hidden files (".notes.backup"). The name
// part is shortened so the whole is never longer than the final name (from 27 characters on), so
// any name the folder can hold can also be rewritten.
constexpr std::size_t kShortestTempName = 27;

std::string TempBaseName(const std::string& baseName) {
    const std::size_t limit = std::max(baseName.size(), kShortestTempName);
    const std::size_t keep = std::min(baseName.size(), limit - kTempSuffixLength - 1);
    return "." + baseName.substr(0, keep) + std::string(kTempMark) + std::string(kTempRandomLength, 'X');
}

bool IsTempName(const std::string& name) {
    if (name.size() < 1 + 1 + kTempSuffixLength || name[0] != '.')
        return false;
    const std::size_t mark = name.size() - kTempSuffixLength;
    if (name.compare(mark, kTempMark.size(), kTempMark) != 0)
        return false;
    for (std::size_t i = mark + kTempMark.size(); i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

} // namespace textfile_detail

std::string TooLargeReason() {
    return "the file is larger than " + std::to_string(kMaxReadFileSize >> 20) + " MB";
}

std::vector<std::string> ReadLines(const std::string& fileName) {
    return SplitLines(ReadWholeFile(fileName));
}

std::string JoinLinesCRLF(const TRecordList& list) {
    std::size_t size = 0;
    for (const std::string& line : list.Lines())
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : list.Lines())
        text.append(line).append("\r\n");
    return text;
}
