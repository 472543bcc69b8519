// The file system calls of TextFile on POSIX systems: descriptors, mkostemp, fsync and rename.
#include "app/core/TextFile.h"
#include "app/core/TextFilePlatform.h"

#include "common/Errors.h"
#include "common/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

using textfile_detail::IsTempName;
using textfile_detail::TempBaseName;

namespace {
std::string SystemMessage(int error) {
    return std::system_category().message(error);
}

// The process's file creation mask. Reading it with umask() means setting it for a moment, which
// another thread creating a file at that instant would feel; /proc tells it without a change.
mode_t CurrentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

std::string FolderOf(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return fileName.substr(0, slash);
}

[[noreturn]] void RefuseRead(const std::string& fileName, const std::string& reason) {
    throw EInOutError("Cannot read " + fileName + ": " + reason);
}

std::string NotAFileReason(mode_t mode) {
    return S_ISDIR(mode) ? SystemMessage(EISDIR) : "not a regular file (a device, a pipe or a socket)";
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}
} // namespace

std::string ReadWholeFile(const std::string& fileName) {
    // Looked at before it is opened: opening a device can have effects of its own (a serial line
    // raises its modem lines), and a fifo would wait for a writer.
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0)
        RefuseRead(fileName, SystemMessage(errno));
    if (!S_ISREG(info.st_mode))
        RefuseRead(fileName, NotAFileReason(info.st_mode));
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxReadFileSize)
        RefuseRead(fileName, TooLargeReason());

    // Non-blocking in case the name was replaced by a fifo in the meantime; checked again on what
    // was actually opened.
    int fd;
    do
        fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        RefuseRead(fileName, SystemMessage(errno));
    TUniqueFd holder(fd);
    if (::fstat(fd, &info) != 0)
        RefuseRead(fileName, SystemMessage(errno));
    if (!S_ISREG(info.st_mode))
        RefuseRead(fileName, NotAFileReason(info.st_mode));
    std::string content;
    content.reserve(std::min(static_cast<std::size_t>(info.st_size), kMaxReadFileSize));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            RefuseRead(fileName, SystemMessage(errno));
        }
        if (got == 0)
            break;
        // A file that grows while it is read is held to the same limit.
        if (content.size() + static_cast<std::size_t>(got) > kMaxReadFileSize)
            RefuseRead(fileName, TooLargeReason());
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

void WriteFileAtomically(const std::string& fileName, std::string_view content) {
    const std::string folder = FolderOf(fileName);
    const auto slash = fileName.rfind('/');
    const std::string baseName = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    // The temporary file lives in the target's folder: rename() replaces atomically only within
    // one file system.
    std::string tempName =
        (slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1)) + TempBaseName(baseName);

    const auto fail = [&](const std::string& removeName, int error) {
        if (!removeName.empty())
            ::unlink(removeName.c_str());
        throw EInOutError("Cannot write " + fileName + ": " + SystemMessage(error));
    };

    TUniqueFd file(::mkostemp(tempName.data(), O_CLOEXEC));
    if (file.Get() < 0)
        fail({}, errno);
    // mkostemp creates the file readable by its owner only; a saved file gets the mode any other
    // new file of the process would get.
    if (::fchmod(file.Get(), 0666 & ~CurrentUmask()) != 0 || !WriteAll(file.Get(), content) ||
        ::fsync(file.Get()) != 0) {
        const int error = errno;
        file.Reset();
        fail(tempName, error);
    }
    if (file.Close() != 0)
        fail(tempName, errno);
    if (::rename(tempName.c_str(), fileName.c_str()) != 0)
        fail(tempName, errno);

    // Make the rename itself durable; a folder that cannot be synced still holds a complete file.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
}

void CreateFolder(const std::string& folder) {
    ::mkdir(folder.c_str(), 0777);
}

bool FileExists(const std::string& fileName) {
    struct stat info {};
    return ::lstat(fileName.c_str(), &info) == 0 || errno != ENOENT;
}

std::string FolderWriteProblem(const std::string& folder) {
    struct stat info {};
    std::string where = folder;
    if (::stat(folder.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            return SystemMessage(ENOTDIR);
    } else if (errno == ENOENT) {
        where = FolderOf(folder);
    } else {
        return SystemMessage(errno);
    }
    // Named like the temporary file of a rewrite, so that a crash right here leaves nothing that
    // the next start would not clean up.
    std::string probe = where + "/" + TempBaseName("write-check");
    TUniqueFd file(::mkostemp(probe.data(), O_CLOEXEC));
    if (file.Get() < 0)
        return SystemMessage(errno);
    file.Reset();
    ::unlink(probe.c_str());
    return {};
}

int RemoveStaleTempFiles(const std::string& folder, std::time_t olderThan) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsTempName(name))
            continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_mtime >= olderThan)
            continue;
        if (::unlink(path.c_str()) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}
