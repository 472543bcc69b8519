// Jobs the tracer was told were fine but whose job trace files could not be written yet (the
// traces folder full, read-only, gone). They are kept in arrival order and written as soon as the
// folder takes them; at the end, those still waiting go to a folder of the user's instead.
#pragma once

#include "app/core/JobSession.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class TUnsavedJobs {
public:
    // Told of each file written: where it went, what it holds and its job's number.
    using TWritten =
        std::function<void(const std::string& fileName, const TJobFileWrite& file, const std::string& jobNumber)>;

    // A job whose file could not be written. A job of the same file name waiting already is
    // replaced, in its place: writing it later would only be replaced by this one.
    void Add(TJobFileWrite file, std::string jobNumber);
    // A file of that name was written: an older version waiting for it would replace it.
    void Saved(const std::string& fileName);
    // A newer version of a waiting job's file (the operator changed the job): the retry writes it.
    void Changed(const TJobFileWrite& file);

    struct TRetry {
        std::vector<std::string> SavedLate; // job numbers written, in order
        std::string Problem;                // why the first one still waiting was not written
    };
    // Tries to write every waiting job, oldest first; those that fail keep waiting.
    TRetry Retry(const TWritten& written = {});

    struct TFallback {
        std::string Folder;             // where the jobs were written (the first folder that took one)
        std::vector<std::string> Files; // the files written, in order
        std::vector<std::string> Lost;  // job numbers no folder took
    };
    // Writes every waiting job into the first of `folders` that takes it, under the name it
    // would have had in the traces folder (with "-2", "-3" ... when an earlier job holds that
    // name there); none waits afterwards.
    TFallback WriteToFolders(const std::vector<std::string>& folders, const TWritten& written = {});

    std::size_t Count() const { return FJobs.size(); }
    bool Empty() const { return FJobs.empty(); }
    // The job numbers waiting, oldest first.
    std::vector<std::string> JobNumbers() const;

private:
    struct TJob {
        TJobFileWrite File;
        std::string Number;
    };
    std::vector<TJob> FJobs;
};

// "123, 124 and 125".
std::string JobNumberList(const std::vector<std::string>& numbers);
