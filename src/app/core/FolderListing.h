// The files of one folder with their last-write times, read in one pass over the folder: on
// Windows the enumeration itself carries the times, on POSIX one stat per name relative to the
// open folder. Names are 8-bit as everywhere in the core (UTF-8 on Windows).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using TFileTime = std::chrono::sys_time<std::chrono::nanoseconds>;

struct TListedFile {
    std::string Name; // without the folder
    TFileTime Written{};
};

// The regular files of the folder (a link counts as what it leads to); folders, devices and
// names that cannot be looked at are left out. An unreadable or missing folder lists nothing.
std::vector<TListedFile> ListFiles(const std::string& folder);

// The last-write time of a regular file; none when it is missing or no regular file.
std::optional<TFileTime> RegularFileTime(const std::string& fileName);
