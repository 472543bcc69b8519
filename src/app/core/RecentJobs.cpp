// The index of the traces folder behind the list of recent jobs.
#include "app/core/RecentJobs.h"

#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Numbers.h"
#include "common/RecordList.h"
#include "common/Utf8Path.h"
#include "trace/EyeShape.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <system_error>

namespace {
constexpr std::string_view kExtension = ".txt";

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// What the program writes: "<job number>.txt". Hidden names (among them the temporary files of
// a rewrite under way) are no jobs the operator saved.
bool IsJobFileName(std::string_view name) {
    if (name.size() <= kExtension.size() || name.front() == '.')
        return false;
    const std::string_view extension = name.substr(name.size() - kExtension.size());
    return std::equal(extension.begin(), extension.end(), kExtension.begin(),
                      [](char a, char b) { return Lower(a) == b; });
}

bool ContainsText(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char a, char b) { return Lower(a) == Lower(b); }) != text.end();
}

std::string_view FolderOf(std::string_view fileName) {
    const auto slash = fileName.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : fileName.substr(0, slash);
}

bool SameFolder(std::string_view a, const std::string& b) {
    if (a == b)
        return true;
    std::error_code error;
    return std::filesystem::equivalent(PathFromUtf8(a), PathFromUtf8(b), error) && !error;
}

// The first value of a "right;left" record.
std::optional<double> FirstValue(const TRecordList& records, std::string_view label) {
    const std::string value = records.Value(label);
    double number = 0;
    if (value.empty() || !TryStrToFloatPointOrComma(value.substr(0, value.find(';')), number))
        return std::nullopt;
    return number;
}

bool NewerFirst(const std::unique_ptr<TRecentJob>& a, const std::unique_ptr<TRecentJob>& b) {
    if (a->Written != b->Written)
        return a->Written > b->Written;
    return a->JobNumber < b->JobNumber;
}
} // namespace

TRecentJobs::TRecentJobs(std::string tracesFolder) : FFolder(std::move(tracesFolder)) {}

void TRecentJobs::Scan() {
    FJobs.clear();
    std::vector<TListedFile> files = ListFiles(FFolder);
    FJobs.reserve(files.size());
    for (TListedFile& file : files) {
        if (!IsJobFileName(file.Name))
            continue;
        auto job = std::make_unique<TRecentJob>();
        job->FileName = FFolder + "/" + file.Name;
        file.Name.resize(file.Name.size() - kExtension.size());
        job->JobNumber = std::move(file.Name);
        job->Written = file.Written;
        FJobs.push_back(std::move(job));
    }
    std::sort(FJobs.begin(), FJobs.end(), NewerFirst);
}

TRecentJobState TRecentJobs::Read(TRecentJob& job) const {
    if (job.State != TRecentJobState::Unread)
        return job.State;
    // Whatever goes wrong below, the file is no job to list: it is never read twice.
    job.State = TRecentJobState::NotAJob;
    std::vector<std::string> lines;
    try {
        lines = ReadLines(job.FileName);
    } catch (const std::exception&) {
        return job.State;
    }
    // The list shows only what Open would show.
    TImportedTraces traces;
    if (!UnusableTraceFile(lines, &traces).empty())
        return job.State;
    job.Radii = traces.Rt.empty() ? traces.Lt : traces.Rt;
    TRecordList records;
    for (std::string& line : lines)
        records.Add(std::move(line));
    job.BoxA = FirstValue(records, "HBOX");
    job.BoxB = FirstValue(records, "VBOX");
    job.DBL = FirstValue(records, "DBL");
    if (!job.BoxA || !job.BoxB) {
        // A file written elsewhere may lack them; the program itself would compute them so.
        try {
            const TEyeShape shape(job.Radii);
            job.BoxA = job.BoxA.value_or(shape.BoxA());
            job.BoxB = job.BoxB.value_or(shape.BoxB());
        } catch (const std::exception&) {
        }
    }
    job.State = TRecentJobState::Job;
    return job.State;
}

TRecentJob* TRecentJobs::Update(const std::string& fileName) {
    const std::string_view name = std::string_view(fileName).substr(fileName.rfind('/') + 1);
    if (!IsJobFileName(name) || !SameFolder(FolderOf(fileName), FFolder))
        return nullptr;
    const std::string listedName = FFolder + "/" + std::string(name);
    const std::optional<TFileTime> written = RegularFileTime(listedName);
    auto at = std::find_if(FJobs.begin(), FJobs.end(), [&](const auto& job) { return job->FileName == listedName; });
    if (!written) {
        if (at == FJobs.end())
            return nullptr;
        (*at)->State = TRecentJobState::NotAJob;
        return at->get();
    }
    if (at == FJobs.end()) {
        auto job = std::make_unique<TRecentJob>();
        job->FileName = listedName;
        job->JobNumber = std::string(name.substr(0, name.size() - kExtension.size()));
        at = FJobs.insert(FJobs.begin(), std::move(job));
    } else if ((*at)->Written != *written) {
        // A file the program has just written is the newest job, whatever the clock says.
        std::rotate(FJobs.begin(), at, at + 1);
        at = FJobs.begin();
    }
    TRecentJob& job = **at;
    job.Written = *written;
    job.State = TRecentJobState::Unread;
    job.BoxA = job.BoxB = job.DBL = std::nullopt;
    job.Radii.clear();
    return &job;
}

void TRecentJobs::Remove(const TRecentJob* job) {
    std::erase_if(FJobs, [job](const auto& entry) { return entry.get() == job; });
}

TRecentJob* TRecentJobs::Find(std::string_view fileName) const {
    for (const auto& job : FJobs)
        if (job->FileName == fileName)
            return job.get();
    return nullptr;
}

std::vector<TRecentJob*> TRecentJobs::Search(std::string_view part) const {
    std::vector<TRecentJob*> found;
    found.reserve(part.empty() ? FJobs.size() : 0);
    for (const auto& job : FJobs)
        if (Matches(*job, part))
            found.push_back(job.get());
    return found;
}

bool TRecentJobs::Matches(const TRecentJob& job, std::string_view part) {
    return part.empty() || ContainsText(job.JobNumber, part);
}
