// The folder listing on Windows: FindFirstFileExW, whose entries carry the attributes and times,
// so that no file is opened.
#include "app/core/FolderListing.h"

#include "common/Win32Text.h"

#include <cstdint>

#include <windows.h>

namespace {
TFileTime TimeOf(const FILETIME& time) {
    // 100-ns intervals since 1601.
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    constexpr int64_t kTicksTo1970 = 116444736000000000;
    return TFileTime(std::chrono::nanoseconds((ticks - kTicksTo1970) * 100));
}

bool IsFile(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}
} // namespace

std::vector<TListedFile> ListFiles(const std::string& folder) {
    std::vector<TListedFile> files;
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileExW(Widen(folder + "/*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (IsFile(entry.dwFileAttributes))
            files.push_back({Narrow(entry.cFileName), TimeOf(entry.ftLastWriteTime)});
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return files;
}

std::optional<TFileTime> RegularFileTime(const std::string& fileName) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Widen(fileName).c_str(), GetFileExInfoStandard, &data) ||
        !IsFile(data.dwFileAttributes))
        return std::nullopt;
    return TimeOf(data.ftLastWriteTime);
}
