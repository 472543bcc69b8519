// Tests of the text file helpers: line splitting, reading, and atomic writing that never leaves a
// truncated file, also when the writer is killed or the file size limit is hit mid-write.
#include "app/core/TextFile.h"

#include "CoreTestUtil.h"
#include "common/Errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>
#ifdef _WIN32
#include "common/Win32Text.h"
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using coretest::FolderEntries;
using coretest::ReadBytes;
using coretest::Shown;
using coretest::TTempFolder;
using coretest::WriteBytes;

namespace {
using TLines = std::vector<std::string>;

// The system's words for the failures the tests provoke.
#ifdef _WIN32
const std::string kNoSuchFile = Win32ErrorText(ERROR_FILE_NOT_FOUND);
const std::string kNoSuchPath = Win32ErrorText(ERROR_PATH_NOT_FOUND);
const std::string kNotAFolder = kNoSuchPath;
const std::string kIsAFolder = Win32ErrorText(ERROR_ACCESS_DENIED);
const std::string kFileNotFolder = Win32ErrorText(ERROR_DIRECTORY);
#else
constexpr const char* kNoSuchFile = "No such file or directory";
constexpr const char* kNoSuchPath = kNoSuchFile;
constexpr const char* kNotAFolder = "Not a directory";
constexpr const char* kIsAFolder = "Is a directory";
constexpr const char* kFileNotFolder = kNotAFolder;
#endif

std::string MessageOfWrite(const std::string& fileName, const std::string& content) {
    try {
        WriteFileAtomically(fileName, content);
    } catch (const EInOutError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error writing " << fileName;
    return {};
}
} // namespace

TEST(JoinLinesCRLF, EveryLineEndsWithCRLF) {
    TRecordList list;
    EXPECT_EQ(JoinLinesCRLF(list), "");
    list.Add("A=1");
    list.Add("");
    list.Add("no equals");
    EXPECT_EQ(JoinLinesCRLF(list), "A=1\r\n\r\nno equals\r\n");
}

TEST(ReadWholeFile, ReadsBytesUnchangedAndNamesTheFileOnFailure) {
    TTempFolder folder;
    std::string bytes;
    for (int i = 0; i < 200000; ++i)
        bytes.push_back(static_cast<char>(i * 7));
    WriteBytes(folder / "data", bytes);
    EXPECT_EQ(ReadWholeFile(folder / "data"), bytes);
    EXPECT_EQ(ReadLines(folder / "data"), SplitLines(bytes));

    try {
        ReadWholeFile(folder / "missing.txt");
        FAIL() << "no error";
    } catch (const EInOutError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot read " + Shown(folder / "missing.txt") + ": " + kNoSuchFile);
    }
    EXPECT_THROW(ReadLines(folder.Path()), EInOutError); // a folder is no text file
}

// Only a regular file of sensible size is read; a device or a fifo is refused without waiting, and
// the message names the file and the reason.
TEST(ReadWholeFile, RefusesWhatIsNoRegularFileOrTooLarge) {
    TTempFolder folder;
    const std::string tooLarge = folder / "huge.txt";
    WriteBytes(tooLarge, "");
    std::filesystem::resize_file(tooLarge, kMaxReadFileSize + 1);
    const std::string largest = folder / "largest.txt";
    WriteBytes(largest, "");
    std::filesystem::resize_file(largest, kMaxReadFileSize);
    const struct {
        std::string Name;
        std::string Reason;
    } cases[] = {
        {tooLarge, "the file is larger than 8 MB"},
        {folder.Path(), kIsAFolder},
#ifdef _WIN32
        {"NUL", "not a regular file (a device or a pipe)"},
#else
        {folder / "zero.txt", "not a regular file (a device, a pipe or a socket)"},
        {folder / "fifo.txt", "not a regular file (a device, a pipe or a socket)"},
#endif
    };
#ifndef _WIN32
    std::filesystem::create_symlink("/dev/zero", folder / "zero.txt");
    ASSERT_EQ(::mkfifo((folder / "fifo.txt").c_str(), 0600), 0);
#endif
    for (const auto& c : cases) {
        try {
            ReadLines(c.Name);
            ADD_FAILURE() << "no error reading " << c.Name;
        } catch (const EInOutError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot read " + Shown(c.Name) + ": " + c.Reason);
        }
    }
    EXPECT_EQ(ReadWholeFile(largest).size(), kMaxReadFileSize);
}

TEST(WriteFileAtomically, ReplacesTheContentWithTheModeOfANewFileAndLeavesNoTemporaryFile) {
    TTempFolder folder;
#ifndef _WIN32
    const mode_t savedMask = ::umask(027);
#endif
    WriteFileAtomically(folder / "a.txt", "first");
    WriteFileAtomically(folder / "a.txt", "second\r\n");
    EXPECT_EQ(ReadBytes(folder / "a.txt"), "second\r\n");
#ifndef _WIN32
    ::umask(savedMask);
    struct stat info {};
    ASSERT_EQ(::stat((folder / "a.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
#endif
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{"a.txt"}));

    WriteFileAtomically(folder / "empty", "");
    EXPECT_EQ(ReadBytes(folder / "empty"), "");
}

TEST(WriteFileAtomically, FailureLeavesThePreviousFileAndNoTemporaryFile) {
    TTempFolder folder;
    WriteBytes(folder / "plain", "old");
    ASSERT_TRUE(std::filesystem::create_directory(folder / "sub"));
    WriteBytes(folder / "sub/keep.txt", "kept");

    const struct {
        std::string Target;
        std::string Reason;
    } cases[] = {
        {folder / "missing/a.txt", kNoSuchPath},
        {folder / "plain/a.txt", kNotAFolder},
        {folder / "sub", kIsAFolder}, // the target itself is a folder: the rename fails
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageOfWrite(c.Target, "new"), "Cannot write " + Shown(c.Target) + ": " + c.Reason);

    EXPECT_EQ(ReadBytes(folder / "plain"), "old");
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{"plain", "sub"}));
    EXPECT_EQ(FolderEntries(folder / "sub"), (TLines{"keep.txt"}));
}

#ifndef _WIN32
TEST(WriteFileAtomically, ReadOnlyFolderKeepsThePreviousFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the super-user";
    TTempFolder folder;
    WriteBytes(folder / "a.txt", "old");
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0555), 0);
    EXPECT_EQ(MessageOfWrite(folder / "a.txt", "new"), "Cannot write " + (folder / "a.txt") + ": Permission denied");
    ::chmod(folder.Path().c_str(), 0755);
    EXPECT_EQ(ReadBytes(folder / "a.txt"), "old");
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{"a.txt"}));
}

// The file size limit makes write() fail part way through, as a full disk does.
TEST(WriteFileAtomically, WriteFailingMidwayKeepsThePreviousFile) {
    TTempFolder folder;
    const std::string target = folder / "big.txt";
    WriteBytes(target, "old content");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteFileAtomically(target, std::string(1 << 20, 'x'));
        } catch (const EInOutError& error) {
            const std::string expected = "Cannot write " + target + ": File too large";
            ::_exit(error.what() == expected ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error raised, 2: another message";
    EXPECT_EQ(ReadBytes(target), "old content");
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{"big.txt"}));
}

// A writer killed at any moment leaves either the complete old or the complete new content.
TEST(WriteFileAtomically, KilledWriterNeverLeavesAPartialFile) {
    TTempFolder folder;
    const std::string target = folder / "job.txt";
    const std::string first(768 << 10, 'a');
    std::string second(512 << 10, 'b');
    second.back() = '\n';
    WriteBytes(target, first);

    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayMicroseconds(0, 40000);
    for (int round = 0; round < 25; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (unsigned i = 0;; ++i)
                    WriteFileAtomically(target, i % 2 ? first : second);
            } catch (...) {
                ::_exit(3);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";

        const std::string content = ReadBytes(target);
        ASSERT_TRUE(content == first || content == second) << "round " << round << ": " << content.size() << " bytes";
    }
    // Only temporary files of killed writers may lie beside the target.
    for (const std::string& name : FolderEntries(folder.Path()))
        EXPECT_TRUE(name == "job.txt" || name.rfind(".job.txt.", 0) == 0) << name;
}

#endif

TEST(CreateFolder, CreatesOnceAndIgnoresEveryFailure) {
    TTempFolder folder;
    CreateFolder(folder / "traces");
    CreateFolder(folder / "traces");
    CreateFolder(folder / "missing/traces");
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{"traces"}));
}

TEST(FolderWriteProblem, SaysWhyASaveWouldFailAndLeavesNothingBehind) {
    TTempFolder folder;
    CreateFolder(folder / "traces");
    WriteBytes(folder / "file", "x");
    const struct {
        std::string Folder;
        std::string Problem;
    } cases[] = {
        {folder / "traces", ""},
        {folder / "new", ""}, // a save would create it
        {folder / "file", kFileNotFolder},
        {folder / "file/traces", kNotAFolder},
        {folder / "missing/traces", kNoSuchPath},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FolderWriteProblem(c.Folder), c.Problem) << c.Folder;
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{"file", "traces"}));
    EXPECT_EQ(FolderEntries(folder / "traces"), TLines{});
}

// A name near the file system's limit is writable and rewritable: the temporary name is never
// longer than the final one. (Windows limits the whole path instead.)
#ifndef _WIN32
TEST(WriteFileAtomically, NameNearTheLengthLimitIsWritten) {
    TTempFolder folder;
    const std::string name = std::string(251, '7') + ".txt";
    WriteFileAtomically(folder / name, "first");
    WriteFileAtomically(folder / name, "second");
    EXPECT_EQ(ReadBytes(folder / name), "second");
    EXPECT_EQ(FolderEntries(folder.Path()), (TLines{name}));
}
#endif

// Names of any script are written, rewritten and read back.
TEST(WriteFileAtomically, NonAsciiFolderAndNameWork) {
    TTempFolder folder;
    const std::string sub = folder / "Gl\xC3\xA4ser \xD0\x9B\xD0\xB8\xD0\xBD\xD0\xB7\xD1\x8B";
    CreateFolder(sub);
    const std::string name = sub + "/Auftr\xC3\xA4ge 7.txt";
    WriteFileAtomically(name, "first");
    WriteFileAtomically(name, "second");
    EXPECT_EQ(ReadWholeFile(name), "second");
    EXPECT_TRUE(FileExists(name));
    EXPECT_FALSE(FileExists(sub + "/other.txt"));
    EXPECT_EQ(FolderEntries(folder.Path()).size(), 1u);
}

TEST(RemoveStaleTempFiles, RemovesOnlyOldTemporaryFilesOfRewrites) {
    TTempFolder folder;
    const std::time_t start = std::time(nullptr);
    const struct {
        std::string name;
        bool old;
        bool removed;
    } cases[] = {
        {".12.txt.tracer-tmp-a1B2c3", true, true},   // interrupted rewrite
        {".12.tx.tracer-tmp-Zz9900", true, true},    // shortened name part of a long job number
        {".12.txt.tracer-tmp-a1B2c3x", true, false}, // not the pattern
        {".12.txt.tracer-tmp-a1-2c3", true, false},  // not the pattern
        {".tracer-tmp-a1B2c3", true, false},         // no name part
        {".notes.backup", true, false},              // somebody else's hidden files
        {".12.txt.a1B2c3", true, false},             // the pattern without the mark
        {"12.txt", true, false},                     // a job file
        {".12.txt.tracer-tmp-q1w2e3", false, false}, // a rewrite of the running program
    };
    namespace fs = std::filesystem;
    const auto makeOld = [](const std::string& path) {
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(2));
    };
    for (const auto& c : cases) {
        WriteBytes(folder / c.name, "");
        if (c.old)
            makeOld(folder / c.name);
    }
    fs::create_directory(folder / ".dir.txt.tracer-tmp-AAAAAA");
#ifndef _WIN32 // the standard library cannot set a folder's time there
    makeOld(folder / ".dir.txt.tracer-tmp-AAAAAA");
#endif

    EXPECT_EQ(RemoveStaleTempFiles(folder.Path(), start), 2);
    for (const auto& c : cases)
        EXPECT_EQ(!fs::exists(folder / c.name), c.removed) << c.name;
    EXPECT_TRUE(fs::exists(folder / ".dir.txt.tracer-tmp-AAAAAA"));
    EXPECT_EQ(RemoveStaleTempFiles(folder / "missing", start), 0);
}
