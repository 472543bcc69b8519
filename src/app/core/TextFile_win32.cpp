// The file system calls of TextFile on Windows: wide-character names, a temporary file created
// exclusively in the target's folder, FlushFileBuffers, and MoveFileExW replacing the old file.
#include "app/core/TextFile.h"
#include "app/core/TextFilePlatform.h"

#include "common/Errors.h"
#include "common/Win32Handle.h"
#include "common/Win32Text.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <random>
#include <utility>

#include <windows.h>

using textfile_detail::IsTempName;
using textfile_detail::kTempRandomLength;
using textfile_detail::TempBaseName;

namespace {

bool WriteAll(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, content.data(), chunk, &written, nullptr))
            return false;
        content.remove_prefix(written);
    }
    return true;
}

// A name as the operator knows it from Explorer: the program's own names are joined with '/'.
std::string NativeName(std::string fileName) {
    std::replace(fileName.begin(), fileName.end(), '/', '\\');
    return fileName;
}

[[noreturn]] void RefuseRead(const std::string& fileName, const std::string& reason) {
    throw EInOutError("Cannot read " + NativeName(fileName) + ": " + reason);
}

constexpr const char* kNotAFile = "not a regular file (a device or a pipe)";

// Replaces the XXXXXX of a temporary name with letters and digits.
void FillRandom(std::string& name, std::mt19937& random) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
    for (size_t i = name.size() - kTempRandomLength; i < name.size(); ++i)
        name[i] = kChars[pick(random)];
}

std::time_t TimeOf(const FILETIME& time) {
    // 100-ns intervals since 1601 to seconds since 1970.
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<std::time_t>(ticks / 10000000ull - 11644473600ull);
}

} // namespace

std::string ReadWholeFile(const std::string& fileName) {
    const std::wstring wideName = Widen(fileName);
    const DWORD attributes = ::GetFileAttributesW(wideName.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        RefuseRead(fileName, Win32ErrorText(ERROR_ACCESS_DENIED));
    // Opening a pipe or a device does not wait; reading it would, so only a disk file is read.
    THandle file(::CreateFileW(wideName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        RefuseRead(fileName, Win32ErrorText(::GetLastError()));
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK)
        RefuseRead(fileName, kNotAFile);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size))
        RefuseRead(fileName, Win32ErrorText(::GetLastError()));
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxReadFileSize)
        RefuseRead(fileName, TooLargeReason());
    std::string content;
    content.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
            RefuseRead(fileName, Win32ErrorText(::GetLastError()));
        if (got == 0)
            break;
        // A file that grows while it is read is held to the same limit.
        if (content.size() + got > kMaxReadFileSize)
            RefuseRead(fileName, TooLargeReason());
        content.append(buffer, got);
    }
    return content;
}

void WriteFileAtomically(const std::string& fileName, std::string_view content) {
    const auto slash = fileName.find_last_of("/\\");
    const std::string baseName = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    // The temporary file lives in the target's folder, so the move is a rename on one volume.
    std::string tempName =
        (slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1)) + TempBaseName(baseName);
    const std::wstring wideName = Widen(fileName);

    const auto fail = [&](const std::wstring& removeName, DWORD error) {
        if (!removeName.empty())
            ::DeleteFileW(removeName.c_str());
        throw EInOutError("Cannot write " + NativeName(fileName) + ": " + Win32ErrorText(error));
    };

    std::mt19937 random(std::random_device{}());
    std::wstring wideTemp;
    THandle file;
    for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
        FillRandom(tempName, random);
        wideTemp = Widen(tempName);
        file.Assign(
            ::CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid() && ::GetLastError() != ERROR_FILE_EXISTS)
            fail({}, ::GetLastError());
    }
    if (!file.Valid())
        fail({}, ERROR_FILE_EXISTS);
    if (!WriteAll(file.Get(), content) || !::FlushFileBuffers(file.Get())) {
        const DWORD error = ::GetLastError();
        file.Reset();
        fail(wideTemp, error);
    }
    if (!file.Close())
        fail(wideTemp, ::GetLastError());
    // Write-through: the move is on disk when the call returns.
    if (!::MoveFileExW(wideTemp.c_str(), wideName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(wideTemp, ::GetLastError());
}

void CreateFolder(const std::string& folder) {
    ::CreateDirectoryW(Widen(folder).c_str(), nullptr);
}

bool FileExists(const std::string& fileName) {
    if (::GetFileAttributesW(Widen(fileName).c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::string FolderWriteProblem(const std::string& folder) {
    std::string where = folder;
    const DWORD attributes = ::GetFileAttributesW(Widen(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return Win32ErrorText(ERROR_DIRECTORY);
    } else if (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        const auto slash = folder.find_last_of("/\\");
        where = slash == std::string::npos ? "." : folder.substr(0, slash);
    } else {
        return Win32ErrorText(::GetLastError());
    }
    // Named like the temporary file of a rewrite, so that a crash right here leaves nothing that
    // the next start would not clean up; deleted when its handle closes.
    std::string probe = where + "/" + TempBaseName("write-check");
    std::mt19937 random(std::random_device{}());
    FillRandom(probe, random);
    HANDLE file = ::CreateFileW(Widen(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Win32ErrorText(::GetLastError());
    ::CloseHandle(file);
    return {};
}

int RemoveStaleTempFiles(const std::string& folder, std::time_t olderThan) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW(Widen(folder + "/*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        const std::string name = Narrow(entry.cFileName);
        if (!IsTempName(name) ||
            (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
            TimeOf(entry.ftLastWriteTime) >= olderThan)
            continue;
        if (::DeleteFileW(Widen(folder + "/" + name).c_str()))
            ++removed;
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return removed;
}
