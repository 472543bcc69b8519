// The jobs waiting for their files: retried in order, and written elsewhere at the end.
#include "app/core/UnsavedJobs.h"

#include "app/core/TextFile.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace {
std::string BaseName(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}
// A name in the folder that no earlier run's job holds: those wait there for the operator too.
std::string FreeName(const std::string& folder, const std::string& baseName) {
    const std::size_t dot = baseName.rfind('.');
    const std::string stem = dot == std::string::npos ? baseName : baseName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : baseName.substr(dot);
    std::string fileName = folder + "/" + baseName;
    for (int n = 2; FileExists(fileName) && n < 1000; ++n)
        fileName = folder + "/" + stem + "-" + std::to_string(n) + extension;
    return fileName;
}
// A folder of the user's may not exist yet, nor the folders it lies in (a new account's data
// folder): without them the jobs would end up in a temporary folder that a restart empties.
void MakeFolders(const std::string& folder) {
    for (std::size_t at = folder.find_first_of("/\\", 1); at != std::string::npos;
         at = folder.find_first_of("/\\", at + 1))
        CreateFolder(folder.substr(0, at));
    CreateFolder(folder);
}
} // namespace

void TUnsavedJobs::Add(TJobFileWrite file, std::string jobNumber) {
    for (TJob& job : FJobs)
        if (job.File.FileName == file.FileName) {
            job = {std::move(file), std::move(jobNumber)};
            return;
        }
    FJobs.push_back({std::move(file), std::move(jobNumber)});
}

void TUnsavedJobs::Saved(const std::string& fileName) {
    std::erase_if(FJobs, [&](const TJob& job) { return job.File.FileName == fileName; });
}

void TUnsavedJobs::Changed(const TJobFileWrite& file) {
    for (TJob& job : FJobs)
        if (job.File.FileName == file.FileName)
            job.File.Records = file.Records;
}

TUnsavedJobs::TRetry TUnsavedJobs::Retry(const TWritten& written) {
    TRetry retry;
    std::vector<TJob> waiting;
    std::vector<TJob> saved;
    for (TJob& job : FJobs) {
        try {
            SaveTraceFile(job.File.FileName, job.File.Records);
        } catch (const std::exception& e) {
            if (retry.Problem.empty())
                retry.Problem = e.what();
            waiting.push_back(std::move(job));
            continue;
        }
        retry.SavedLate.push_back(job.Number);
        saved.push_back(std::move(job));
    }
    FJobs = std::move(waiting);
    // Told once the list is whole again: whatever the listener does, no job is lost.
    if (written)
        for (const TJob& job : saved)
            written(job.File.FileName, job.File, job.Number);
    return retry;
}

TUnsavedJobs::TFallback TUnsavedJobs::WriteToFolders(const std::vector<std::string>& folders, const TWritten& written) {
    TFallback fallback;
    std::vector<std::pair<std::string, TJob>> saved;
    for (TJob& job : FJobs) {
        bool taken = false;
        for (const std::string& folder : folders) {
            if (folder.empty())
                continue;
            MakeFolders(folder);
            const std::string fileName = FreeName(folder, BaseName(job.File.FileName));
            try {
                SaveTraceFile(fileName, job.File.Records);
            } catch (const std::exception&) {
                continue;
            }
            if (fallback.Folder.empty())
                fallback.Folder = folder;
            fallback.Files.push_back(fileName);
            if (written)
                saved.emplace_back(fileName, std::move(job));
            taken = true;
            break;
        }
        if (!taken)
            fallback.Lost.push_back(job.Number);
    }
    FJobs.clear();
    if (written)
        for (const auto& [fileName, job] : saved)
            written(fileName, job.File, job.Number);
    return fallback;
}

std::vector<std::string> TUnsavedJobs::JobNumbers() const {
    std::vector<std::string> numbers;
    for (const TJob& job : FJobs)
        numbers.push_back(job.Number);
    return numbers;
}

std::string JobNumberList(const std::vector<std::string>& numbers) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            text += i + 1 == numbers.size() ? " and " : ", ";
        text += numbers[i].empty() ? std::string("(no job number)") : numbers[i];
    }
    return text;
}
