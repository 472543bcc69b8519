// Tests of the index of recent jobs against a real folder: the order by file time, what is not
// listed or not taken as a job, the values read from a file, a written job put on top, search.
#include "app/core/RecentJobs.h"

#include "CoreTestUtil.h"
#include "app/core/JobFile.h"

#include <gtest/gtest.h>

#include <filesystem>

using coretest::Circle;
using coretest::TTempFolder;
using coretest::WriteBytes;

namespace {
namespace fs = std::filesystem;

// A job trace file as the program writes it: the given records, then the trace blocks.
std::string JobFileBytes(const std::vector<std::string>& records, const std::string& rt, const std::string& lt = {}) {
    TRecordList list;
    list.Add("REQ=FIL");
    for (const std::string& record : records)
        list.Add(record);
    for (const auto& [eye, trace] : {std::pair{'R', rt}, std::pair{'L', lt}}) {
        if (trace.empty())
            continue;
        list.Add("TRCFMT=1;" + std::to_string(trace.size() / 4) + ";E;" + eye + ";F");
        AddRadiiRecords(list, trace);
    }
    std::string bytes;
    for (const std::string& line : list.Lines())
        bytes += line + "\r\n";
    return bytes;
}

// A file written `minutesAgo` minutes before now.
void WriteAged(const std::string& fileName, const std::string& bytes, int minutesAgo) {
    WriteBytes(fileName, bytes);
    fs::last_write_time(fileName, fs::file_time_type::clock::now() - std::chrono::minutes(minutesAgo));
}

std::vector<std::string> JobNumbers(const std::vector<TRecentJob*>& jobs) {
    std::vector<std::string> numbers;
    for (const TRecentJob* job : jobs)
        numbers.push_back(job->JobNumber);
    return numbers;
}

std::vector<std::string> Listed(const TRecentJobs& jobs) {
    return JobNumbers(jobs.Search(""));
}

const std::string kJob = JobFileBytes({"DBL=18.00", "HBOX=48.50;48.50", "VBOX=30.25;30.25"}, Circle(400, 20));
} // namespace

TEST(RecentJobs, ListsTheFolderNewestFirstAndNeverTakesOtherFilesAsJobs) {
    TTempFolder folder;
    WriteAged(folder / "100.txt", kJob, 30);
    WriteAged(folder / "300.txt", kJob, 10);
    WriteAged(folder / "200.txt", kJob, 20);
    WriteAged(folder / "250.TXT", kJob, 15);
    // Never listed: no ".txt", hidden, the temporary file of a rewrite, a folder.
    WriteBytes(folder / "300.txt.bak", kJob);
    WriteBytes(folder / ".hidden.txt", kJob);
    WriteBytes(folder / ".300.txt.tracer-tmp-Ab12Cd", kJob);
    fs::create_directory(folder / "old.txt");
    // Listed by name, but no job once read: the list drops them.
    const struct {
        const char* Name;
        std::string Bytes;
    } notJobs[] = {
        {"empty.txt", ""},
        {"binary.txt", std::string("REQ=FIL\r\n\0\x01\x02", 12) + JobFileBytes({}, Circle(400, 20))},
        {"letter.txt", "Dear lab,\r\nplease cut 300 again.\r\n"},
        {"short.txt", JobFileBytes({}, "20002000")},
    };
    for (const auto& file : notJobs)
        WriteAged(folder / file.Name, file.Bytes, 5);

    TRecentJobs jobs(folder.Path());
    jobs.Scan();
    EXPECT_EQ(jobs.Count(), 8u);
    std::vector<std::string> readAsJobs;
    for (TRecentJob* job : jobs.Search("")) {
        if (jobs.Read(*job) == TRecentJobState::Job)
            readAsJobs.push_back(job->JobNumber);
        else
            jobs.Remove(job);
    }
    EXPECT_EQ(readAsJobs, (std::vector<std::string>{"300", "250", "200", "100"}));
    EXPECT_EQ(Listed(jobs), readAsJobs);
    EXPECT_EQ(jobs.Job(0).FileName, folder / "300.txt");

    TRecentJobs missing(folder / "no-such-folder");
    missing.Scan();
    EXPECT_EQ(missing.Count(), 0u);
}

TEST(RecentJobs, ReadsTheFilesOwnValuesAndTheRightTraceForTheDrawing) {
    const std::string right = Circle(400, 20);
    const std::string left = Circle(360, 21);
    const struct {
        const char* Name;
        std::string Bytes;
        std::optional<double> BoxA, BoxB, DBL;
        std::string Radii;
    } cases[] = {
        {"the records as written", JobFileBytes({"DBL=18.00", "HBOX=48.50;47.00", "VBOX=30.25;29.00"}, right, left),
         48.5, 30.25, 18.0, right},
        {"a comma as another locale writes it; no DBL", JobFileBytes({"HBOX=48,50;48,50", "VBOX=30,25;30,25"}, right),
         48.5, 30.25, std::nullopt, right},
        {"a left trace only", JobFileBytes({"DBL=17.5", "HBOX=42.00;42.00", "VBOX=42.00;42.00"}, {}, left), 42.0, 42.0,
         17.5, left},
        {"no box records: measured from the trace", JobFileBytes({"DBL=x"}, right), 40.0, 40.0, std::nullopt, right},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempFolder folder;
        WriteBytes(folder / "77.txt", c.Bytes);
        TRecentJobs jobs(folder.Path());
        jobs.Scan();
        ASSERT_EQ(jobs.Count(), 1u);
        TRecentJob& job = jobs.Job(0);
        EXPECT_EQ(job.State, TRecentJobState::Unread);
        ASSERT_EQ(jobs.Read(job), TRecentJobState::Job);
        EXPECT_EQ(job.JobNumber, "77");
        ASSERT_EQ(job.BoxA.has_value(), c.BoxA.has_value());
        EXPECT_NEAR(job.BoxA.value_or(0), c.BoxA.value_or(0), 0.01);
        EXPECT_NEAR(job.BoxB.value_or(0), c.BoxB.value_or(0), 0.01);
        EXPECT_EQ(job.DBL, c.DBL);
        EXPECT_EQ(job.Radii, c.Radii);
    }
}

TEST(RecentJobs, AWrittenJobGoesOnTopWithoutAScan) {
    TTempFolder folder;
    WriteAged(folder / "100.txt", kJob, 30);
    WriteAged(folder / "200.txt", kJob, 20);
    WriteAged(folder / "300.txt", kJob, 10);
    TRecentJobs jobs(folder.Path());
    jobs.Scan();
    for (TRecentJob* job : jobs.Search(""))
        jobs.Read(*job);
    TRecentJob* oldest = jobs.Find(folder / "100.txt");
    ASSERT_NE(oldest, nullptr);

    // A new job, then a rewrite of the oldest with another DBL: each on top, the same entry kept.
    WriteBytes(folder / "400.txt", kJob);
    ASSERT_NE(jobs.Update(folder / "400.txt"), nullptr);
    EXPECT_EQ(Listed(jobs), (std::vector<std::string>{"400", "300", "200", "100"}));
    WriteBytes(folder / "100.txt", JobFileBytes({"DBL=21.00"}, Circle(400, 20)));
    EXPECT_EQ(jobs.Update(folder / "100.txt"), oldest);
    EXPECT_EQ(Listed(jobs), (std::vector<std::string>{"100", "400", "300", "200"}));
    EXPECT_EQ(oldest->State, TRecentJobState::Unread);
    jobs.Read(*oldest);
    EXPECT_EQ(oldest->DBL, 21.0);
    EXPECT_GT(oldest->Written, jobs.Job(2).Written);
    // Opened, not written: it keeps its place.
    EXPECT_EQ(jobs.Update(folder / "300.txt"), &jobs.Job(2));
    EXPECT_EQ(Listed(jobs), (std::vector<std::string>{"100", "400", "300", "200"}));

    // Not taken: a file elsewhere, a name the listing skips; a file gone is no job any more.
    TTempFolder elsewhere;
    WriteBytes(elsewhere / "500.txt", kJob);
    EXPECT_EQ(jobs.Update(elsewhere / "500.txt"), nullptr);
    WriteBytes(folder / ".500.txt.tracer-tmp-Ab12Cd", kJob);
    EXPECT_EQ(jobs.Update(folder / ".500.txt.tracer-tmp-Ab12Cd"), nullptr);
    fs::remove(folder / "300.txt");
    ASSERT_NE(jobs.Update(folder / "300.txt"), nullptr);
    EXPECT_EQ(jobs.Find(folder / "300.txt")->State, TRecentJobState::NotAJob);
    EXPECT_EQ(jobs.Count(), 4u);
}

TEST(RecentJobs, SearchFindsPartsOfTheJobNumberNewestFirst) {
    TTempFolder folder;
    const char* names[] = {"a12x", "999", "A123", "12345"}; // oldest first
    for (int i = 0; i < 4; ++i)
        WriteAged(folder / (std::string(names[i]) + ".txt"), kJob, 40 - i * 10);
    TRecentJobs jobs(folder.Path());
    jobs.Scan();
    const struct {
        const char* Part;
        std::vector<std::string> Found;
    } cases[] = {
        {"", {"12345", "A123", "999", "a12x"}},
        {"123", {"12345", "A123"}},
        {"a12", {"A123", "a12x"}},
        {"9", {"999"}},
        {"777", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JobNumbers(jobs.Search(c.Part)), c.Found) << c.Part;
}
