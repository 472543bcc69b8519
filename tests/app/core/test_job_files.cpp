// Tests of the job files: a tracer's job written at once and told, the operator's rewrites merged
// until the flush, jobs the traces folder refuses kept and written late or elsewhere, opened files
// refused with the reason or taken in and told, and the question about an opened job's file.
#include "app/core/JobFiles.h"

#include "CoreTestUtil.h"
#include "app/core/TextFile.h"

#include <gtest/gtest.h>

#include <filesystem>

using coretest::Ellipse;
using coretest::TTempFolder;

namespace {

using TKind = TJobFileEvent::TKind;

std::string Packet(const std::string& job, const std::string& frameType = "1") {
    std::string packet = "\x1c";
    const std::vector<std::string> lines{"REQ=TRC",           "JOB=" + job, "VEN=TAKUBO",        "DBL=17.50",
                                         "FTYP=" + frameType, "ETYP=1",     "TRCFMT=1;400;E;R;F"};
    for (const std::string& line : lines)
        packet += line + "\r\n";
    return packet + "\x1d";
}

// What a listener keeps of an event; the records only live during the call.
struct TTold {
    TKind Kind;
    std::string FileName, JobNumber, DBL;
    bool KeptBoth, Replaced;
    bool operator==(const TTold&) const = default;
};

class JobFiles : public ::testing::Test {
protected:
    JobFiles() {
        FFiles.OnFlushWanted = [this] { ++FFlushesWanted; };
        FFiles.Subscribe([this](const TJobFileEvent& e) {
            FTold.push_back(
                {e.Kind, e.FileName, e.JobNumber, e.Records ? e.Records->Value("DBL") : "", e.KeptBoth, e.Replaced});
        });
    }
    TJobFileWrite Arrive(const std::string& job, const std::string& frameType = "1") {
        FSession.PacketArrived(Packet(job, frameType));
        FSession.TracesArrived({Ellipse(400, 25, 20), ""}, {"", ""});
        TJobUpdate update = FSession.TracerJobArrived();
        return std::move(*update.Write);
    }
    std::string Traces(const std::string& name = "") const { return FFolder / ("traces" + name); }
    std::string Record(const std::string& fileName, const std::string& label) const {
        TRecordList list;
        for (std::string& line : ReadLines(fileName))
            list.Add(std::move(line));
        return list.Value(label);
    }

    TTempFolder FFolder;
    TJobSession FSession{FFolder / "traces"};
    TJobFiles FFiles{FSession};
    int FFlushesWanted = 0;
    std::vector<TTold> FTold;
};

} // namespace

TEST_F(JobFiles, TracersJobIsWrittenAtOnceAndRewritesAreMergedUntilTheFlush) {
    EXPECT_EQ(FFiles.WriteTracerJob(Arrive("123")), "");
    EXPECT_EQ(Record(Traces("/123.txt"), "DBL"), "17.50");
    ASSERT_EQ(FTold, (std::vector<TTold>{{TKind::Written, Traces("/123.txt"), "123", "17.50", false, false}}));

    // A held up/down button: many rewrites, one flush asked for, only the last one written.
    for (const char* dbl : {"18", "18.5", "19"})
        FFiles.Write(*FSession.ValueEntered(TJobField::DBL, dbl, false).Write);
    EXPECT_EQ(FFlushesWanted, 1);
    EXPECT_EQ(Record(Traces("/123.txt"), "DBL"), "17.50");
    EXPECT_EQ(FFiles.Flush(), "");
    EXPECT_EQ(Record(Traces("/123.txt"), "DBL"), "19.00");
    EXPECT_EQ(FFiles.Flush(), ""); // nothing waits
    ASSERT_EQ(FTold.size(), 2u);
    EXPECT_EQ(FTold[1].DBL, "19.00");

    // The next job's file waits for no flush, and the rewrite still waiting goes first.
    FFiles.Write(*FSession.ValueEntered(TJobField::DBL, "20", false).Write);
    EXPECT_EQ(FFiles.WriteTracerJob(Arrive("124")), "");
    ASSERT_EQ(FTold.size(), 4u);
    EXPECT_EQ(FTold[2], (TTold{TKind::Written, Traces("/123.txt"), "123", "20.00", false, false}));
    EXPECT_EQ(FTold[3], (TTold{TKind::Written, Traces("/124.txt"), "124", "17.50", false, false}));
    EXPECT_EQ(FFlushesWanted, 2);
}

// The tracer was told its jobs were fine: a folder that refuses them loses none.
TEST_F(JobFiles, JobsTheFolderRefusesAreWrittenLateOrElsewhereAtTheEnd) {
    coretest::WriteBytes(Traces(), "a file where the folder should be");
    for (const char* job : {"201", "202"})
        EXPECT_NE(FFiles.WriteTracerJob(Arrive(job)), "");
    // The operator's change of a job waiting is the version the retry writes.
    EXPECT_THROW(FFiles.WriteNow(*FSession.ValueEntered(TJobField::DBL, "19", false).Write), std::exception);
    EXPECT_EQ(FFiles.UnsavedCount(), 2u);
    EXPECT_TRUE(FTold.empty());
    TUnsavedJobs::TRetry retry = FFiles.RetryUnsaved();
    EXPECT_TRUE(retry.SavedLate.empty());
    EXPECT_NE(retry.Problem, "");

    std::filesystem::remove(Traces());
    retry = FFiles.RetryUnsaved();
    EXPECT_EQ(retry.SavedLate, (std::vector<std::string>{"201", "202"}));
    EXPECT_EQ(FFiles.UnsavedCount(), 0u);
    EXPECT_EQ(FTold, (std::vector<TTold>{{TKind::SavedLate, Traces("/201.txt"), "201", "17.50", false, false},
                                         {TKind::SavedLate, Traces("/202.txt"), "202", "19.00", false, false}}));

    // At the end, what still waits goes to the first fallback folder that takes it.
    FTold.clear();
    std::filesystem::remove_all(Traces());
    coretest::WriteBytes(Traces(), "blocked again");
    EXPECT_NE(FFiles.WriteTracerJob(Arrive("203")), "");
    // The user's folder is made with the folders it lies in; the last one is not needed then.
    FFiles.SetFallbackFolders({FFolder / "blocked/x", FFolder / "home/.local/share/unsaved", FFolder / "fallback"});
    coretest::WriteBytes(FFolder / "blocked", "");
    const TUnsavedJobs::TFallback fallback = FFiles.WriteUnsavedElsewhere();
    EXPECT_EQ(fallback.Files, (std::vector<std::string>{FFolder / "home/.local/share/unsaved/203.txt"}));
    EXPECT_EQ(FFiles.UnsavedCount(), 0u);
    EXPECT_EQ(FTold, (std::vector<TTold>{{TKind::Elsewhere, FFolder / "home/.local/share/unsaved/203.txt", "203",
                                          "17.50", false, false}}));
    EXPECT_FALSE(std::filesystem::exists(FFolder / "fallback"));
}

// A fallback folder named with letters outside ASCII, as a user's own folder may be, is looked
// into like any other: the job an earlier run left there stays, the new one takes the next name.
TEST_F(JobFiles, AFallbackFolderNamedOutsideAsciiKeepsTheJobAlreadyThere) {
    coretest::WriteBytes(Traces(), "a file where the folder should be");
    EXPECT_NE(FFiles.WriteTracerJob(Arrive("301")), "");
    const std::string folder = FFolder / "J\xc3\xbcrgen \xc3\x98stby"; // UTF-8, as the program keeps names
    CreateFolder(folder);
    WriteFileAtomically(folder + "/301.txt", "JOB=301\r\nkept from an earlier run\r\n");
    FFiles.SetFallbackFolders({folder});
    const TUnsavedJobs::TFallback fallback = FFiles.WriteUnsavedElsewhere();
    EXPECT_EQ(fallback.Files, (std::vector<std::string>{folder + "/301-2.txt"}));
    EXPECT_EQ(ReadLines(folder + "/301.txt"), (std::vector<std::string>{"JOB=301", "kept from an earlier run"}));
    EXPECT_TRUE(FileExists(folder + "/301-2.txt"));
}

// A file that gives no job is refused with a sentence that says why, and changes nothing.
TEST_F(JobFiles, OpenRefusesFilesWithoutAJobAndTellsOfTheOnesItTakes) {
    ASSERT_EQ(FFiles.WriteTracerJob(Arrive("123")), "");
    FFiles.Write(*FSession.ValueEntered(TJobField::DBL, "19", false).Write);
    FTold.clear();
    std::filesystem::create_directory(FFolder / "folder.txt");
    coretest::WriteBytes(FFolder / "empty.txt", "\r\n");
    coretest::WriteBytes(FFolder / "notes.txt", "shopping list\r\nmilk\r\n");
    coretest::WriteBytes(FFolder / "binary.txt", std::string("R=25\0\x01\x02\r\n", 10));
    const struct {
        const char* name;
        std::string starts; // the refusal begins so
    } refused[] = {{"missing.txt", "Cannot read " + coretest::Shown(FFolder / "missing.txt") + ": "},
                   {"folder.txt", "Cannot read " + coretest::Shown(FFolder / "folder.txt") + ": "},
                   {"empty.txt", "The file is empty."},
                   {"notes.txt", "It holds no trace."},
                   {"binary.txt", "It is not a text file."}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const TJobFiles::TOpened opened = FFiles.Open(FFolder / c.name);
        EXPECT_EQ(opened.Refusal.substr(0, c.starts.size()), c.starts) << opened.Refusal;
        EXPECT_FALSE(opened.Update.Panel);
        EXPECT_EQ(FSession.Job().Value("JOB"), "123");
    }
    EXPECT_TRUE(FTold.empty());

    // A file with a job: the operator's last change of the job shown is written first.
    coretest::WriteBytes(FFolder / "order-0042.txt",
                         "REQ=FIL\r\nDBL=16.00\r\nTRCFMT=1;4;E;R;F\r\nR=2500;2000;2500;2000\r\n");
    const TJobFiles::TOpened opened = FFiles.Open(FFolder / "order-0042.txt");
    EXPECT_EQ(opened.Refusal, "");
    ASSERT_TRUE(opened.Update.Panel);
    EXPECT_EQ(opened.Update.Panel->JobNumber, "42");
    EXPECT_EQ(FTold, (std::vector<TTold>{{TKind::Written, Traces("/123.txt"), "123", "19.00", false, false},
                                         {TKind::Opened, FFolder / "order-0042.txt", "42", "16.00", false, false}}));
}

// The operator's answer decides where an opened job goes; rewrites asked for while the question is
// open wait for the answer and are written afterwards where it says.
TEST_F(JobFiles, OpenedJobGoesWhereTheOperatorSays) {
    const struct {
        TReplaceAnswer answer;
        std::string written; // "": none
        bool keptBoth, replaced;
        std::string note;
    } cases[] = {
        {TReplaceAnswer::KeepBoth, "/123-2.txt", true, false,
         "The opened job was saved as 123-2.txt; 123.txt keeps the job it held."},
        {TReplaceAnswer::Replace, "/123.txt", false, true, "The opened job replaced the job in 123.txt."},
        {TReplaceAnswer::DoNotWrite, "", false, false, "The opened job was not saved: 123.txt holds another job."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        const TTempFolder folder;
        TJobSession session(folder / "traces");
        TJobFiles files(session);
        std::vector<TTold> told;
        files.Subscribe([&](const TJobFileEvent& e) {
            told.push_back({e.Kind, e.FileName, e.JobNumber, e.Records->Value("DBL"), e.KeptBoth, e.Replaced});
        });
        session.PacketArrived(Packet("123"));
        session.TracesArrived({Ellipse(400, 25, 20), ""}, {"", ""});
        ASSERT_EQ(files.WriteTracerJob(std::move(*session.TracerJobArrived().Write)), "");
        coretest::WriteBytes(folder / "123.txt",
                             "REQ=FIL\r\nJOB=123\r\nFTYP=2\r\nTRCFMT=1;4;E;R;F\r\nR=2500;2000;2500;2000\r\n");
        const TJobFiles::TOpened opened = files.Open(folder / "123.txt");
        ASSERT_TRUE(opened.Update.Write); // its frame type is another than the one selected

        int flushesWanted = 0;
        files.OnFlushWanted = [&] { ++flushesWanted; };
        files.OnAskReplace = [&](const std::string& existing, const std::string&) {
            EXPECT_EQ(existing, folder / "traces/123.txt");
            EXPECT_TRUE(files.Asking());
            files.Write(*session.ValueEntered(TJobField::DBL, "19", false).Write);
            EXPECT_EQ(files.Flush(), ""); // the question is open: nothing is written
            return c.answer;
        };
        told.clear();
        EXPECT_EQ(files.WriteNow(*opened.Update.Write), c.note);
        EXPECT_EQ(flushesWanted, 2); // asked for by the rewrite, and again once the answer came
        EXPECT_EQ(files.Flush(), "");
        if (c.written.empty()) {
            EXPECT_TRUE(told.empty());
            continue;
        }
        const std::string written = folder / ("traces" + c.written);
        // Later changes of the job go the same way, unasked.
        EXPECT_EQ(told, (std::vector<TTold>{{TKind::Written, written, "123", "", c.keptBoth, c.replaced},
                                            {TKind::Written, written, "123", "19.00", c.keptBoth, false}}));
    }
}

TEST(JobFilesClipboard, FullNameInTheSystemsNotation) {
    const std::string here = std::filesystem::current_path().lexically_normal().make_preferred().string();
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
#ifdef _WIN32
    EXPECT_EQ(TJobFiles::ClipboardText("C:/Lab/traces/123.txt"), "C:\\Lab\\traces\\123.txt");
#else
    EXPECT_EQ(TJobFiles::ClipboardText("/lab/traces/./123.txt"), "/lab/traces/123.txt");
#endif
    EXPECT_EQ(TJobFiles::ClipboardText("traces/123.txt"),
              here + (here.back() == separator ? "" : std::string(1, separator)) + "traces" + separator + "123.txt");
}

TEST(JobFilesListeners, UnsubscribedListenerIsToldNoMore) {
    const TTempFolder folder;
    TJobSession session(folder / "traces");
    TJobFiles files(session);
    int first = 0, second = 0;
    const int id = files.Subscribe([&](const TJobFileEvent&) { ++first; });
    files.Subscribe([&](const TJobFileEvent&) { ++second; });
    coretest::WriteBytes(folder / "1.txt", "TRCFMT=1;4;E;R;F\r\nR=2500;2000;2500;2000\r\n");
    files.Open(folder / "1.txt");
    files.Unsubscribe(id);
    files.Open(folder / "1.txt");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
}
