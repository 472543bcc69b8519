// Whole text files as the application reads and writes them (file names in UTF-8): 8-bit text, CR, LF or CR LF read as
// line ends, CR LF written, and every write atomic (a temporary file in the same folder, flushed,
// then renamed over the old one), so a crash or a full disk never leaves a truncated file.
#pragma once

#include "common/RecordList.h"
#include "common/Text.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// The largest file that is read: far beyond any job trace file or settings file, and small enough
// that reading it never holds the program up noticeably.
inline constexpr std::size_t kMaxReadFileSize = 8u << 20;

// The file's bytes. Raises EInOutError naming the file and the reason when it cannot be read,
// when it is no regular file (a folder, a device, a fifo: never opened, so nothing blocks) or
// when it is larger than kMaxReadFileSize.
std::string ReadWholeFile(const std::string& fileName);

// The reason given for a file larger than kMaxReadFileSize.
std::string TooLargeReason();

// The lines of a file (as SplitLines); raises EInOutError when it cannot be read.
std::vector<std::string> ReadLines(const std::string& fileName);

// Every line of the list followed by CR LF.
std::string JoinLinesCRLF(const TRecordList& list);

// Replaces the file's content atomically. On any failure (folder missing or read-only, disk full)
// the old file is left as it was, the temporary file is removed, and EInOutError is raised with
// a message naming the file and the system's reason.
void WriteFileAtomically(const std::string& fileName, std::string_view content);

// Creates one folder; an existing folder or any failure is ignored.
void CreateFolder(const std::string& folder);

// Whether a save can write into the folder: a file is made and removed again in it, or, while the
// folder does not exist yet, in the folder that a save would create it in. Returns "" when that
// worked, else the system's reason. Creates nothing that stays.
std::string FolderWriteProblem(const std::string& folder);

// True when the name is taken (by a file, a folder or a dangling link) or cannot be checked.
bool FileExists(const std::string& fileName);

// Removes the temporary files that rewrites interrupted by a crash or a kill left in the folder
// (".<name>.tracer-tmp-XXXXXX" exactly, regular files only) when they were last changed before
// olderThan, so that a rewrite of a running program is never touched. Returns how many were removed.
int RemoveStaleTempFiles(const std::string& folder, std::time_t olderThan);
