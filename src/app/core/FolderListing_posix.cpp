// The folder listing on POSIX systems: readdir and fstatat relative to the open folder.
#include "app/core/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
TFileTime TimeOf(const struct stat& info) {
    return TFileTime(std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec));
}
} // namespace

std::vector<TListedFile> ListFiles(const std::string& folder) {
    std::vector<TListedFile> files;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return files;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        // The type from the folder itself spares a stat for names that are surely no file.
        if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
            continue;
        files.push_back({entry->d_name, TimeOf(info)});
    }
    ::closedir(dir);
    return files;
}

std::optional<TFileTime> RegularFileTime(const std::string& fileName) {
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return TimeOf(info);
}
