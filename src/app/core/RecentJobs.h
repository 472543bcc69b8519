// TRecentJobs: the job trace files of the traces folder, newest first, for the list of recent
// jobs. Listing reads names and times only; a file's records are read when its row is first
// wanted, so a folder of many thousand jobs is listed at once. A job the program has just
// written is put on top without listing the folder again.
#pragma once

#include "app/core/FolderListing.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TRecentJobState {
    Unread,  // only the name and the time are known
    Job,     // a job trace file: the values below are filled in
    NotAJob, // a file Open would refuse (no trace, not text, unreadable); to be dropped
};

struct TRecentJob {
    std::string FileName;  // folder + "/" + name, as the core names files
    std::string JobNumber; // the name without ".txt": the job trace file carries it there
    TFileTime Written{};
    TRecentJobState State = TRecentJobState::Unread;
    // The file's own box and DBL records (box A and B of the right eye, the first value), as
    // the order form got them; measured from the trace when a box record is missing.
    std::optional<double> BoxA;
    std::optional<double> BoxB;
    std::optional<double> DBL;
    // The right eye's radii text, or the left eye's when the file has no right trace.
    std::string Radii;
};

class TRecentJobs {
public:
    explicit TRecentJobs(std::string tracesFolder);
    TRecentJobs(const TRecentJobs&) = delete;
    TRecentJobs& operator=(const TRecentJobs&) = delete;

    const std::string& Folder() const { return FFolder; }

    // Lists the folder again: every "*.txt" file that is not hidden, newest first (the same
    // time by name). Earlier entries are gone, and pointers to them with them.
    void Scan();

    std::size_t Count() const { return FJobs.size(); }
    // Newest first. Entries keep their address until removed or rescanned.
    TRecentJob& Job(std::size_t index) const { return *FJobs.at(index); }

    // Reads the file's records when not read yet; returns what the file turned out to be.
    TRecentJobState Read(TRecentJob& job) const;

    // A job trace file just written (or received): on top at once with its new time, its records
    // read again when next wanted. A file whose time has not changed (opened, not written) keeps
    // its place. A file that is gone is marked NotAJob; a file outside the folder, or one the
    // listing would skip, is not taken. Returns the entry, or null.
    TRecentJob* Update(const std::string& fileName);

    // Takes the entry out of the list (the entry is destroyed).
    void Remove(const TRecentJob* job);
    // The entry of the file, or null.
    TRecentJob* Find(std::string_view fileName) const;

    // The entries whose job number holds `part` (letter case ignored), newest first; all of
    // them for an empty part.
    std::vector<TRecentJob*> Search(std::string_view part) const;
    // Whether Search(part) finds the job.
    static bool Matches(const TRecentJob& job, std::string_view part);

private:
    std::string FFolder;
    std::vector<std::unique_ptr<TRecentJob>> FJobs;
};
