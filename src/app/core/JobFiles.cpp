// The job files: the rewrite waiting, the settling of an opened job's file, the unsaved jobs and
// the listeners.
#include "app/core/JobFiles.h"

#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/FlagScope.h"
#include "common/Utf8Path.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

namespace {

// A reason as the sentence that follows a file's name in a message.
std::string Sentence(std::string reason) {
    if (!reason.empty() && reason[0] >= 'a' && reason[0] <= 'z')
        reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    return reason;
}

} // namespace

TJobFiles::TJobFiles(TJobSession& session) : FSession(session) {}

int TJobFiles::Subscribe(TJobFileListener listener) {
    FListeners.emplace_back(FNextId, std::move(listener));
    return FNextId++;
}

void TJobFiles::Unsubscribe(int id) {
    std::erase_if(FListeners, [id](const auto& listener) { return listener.first == id; });
}

void TJobFiles::Notify(const TJobFileEvent& event) {
    // A listener may subscribe or unsubscribe while it is told.
    const auto listeners = FListeners;
    for (const auto& listener : listeners)
        listener.second(event);
}

void TJobFiles::Write(TJobFileWrite file) {
    FPending = TPending{std::move(file), FSession.Job().Value(jobkey::Job)};
    if (FFlushWanted)
        return;
    FFlushWanted = true;
    if (OnFlushWanted)
        OnFlushWanted();
}

std::string TJobFiles::Flush() {
    FFlushWanted = false;
    if (!FPending || FAsking)
        return {};
    TPending pending = std::move(*FPending);
    FPending.reset();
    return Settle(std::move(pending));
}

std::string TJobFiles::WriteNow(TJobFileWrite file) {
    std::string job = FSession.Job().Value(jobkey::Job);
    const std::string before = Flush();
    const std::string note = Settle({std::move(file), std::move(job)});
    return note.empty() ? before : note;
}

std::string TJobFiles::WriteTracerJob(TJobFileWrite file) {
    std::string job = FSession.Job().Value(jobkey::Job);
    try {
        Flush();
    } catch (const std::exception& e) {
        // The folder that refused the rewrite takes no job either: this one waits with it.
        FUnsaved.Add(std::move(file), std::move(job));
        return e.what();
    }
    try {
        Settle({std::move(file), std::move(job)}, true);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

std::string TJobFiles::Settle(TPending pending, bool keep) {
    const std::string asked = pending.File.FileName;
    TSettledWrite settled;
    {
        // Rewrites asked for while the question is open wait for its answer.
        const TFlagScope asking(FAsking);
        settled = FSession.SettleWrite(std::move(pending.File), OnAskReplace);
    }
    if (FPending && !FFlushWanted) {
        FFlushWanted = true;
        if (OnFlushWanted)
            OnFlushWanted();
    }
    const std::string note = settled.Note.empty() ? std::string() : settled.Note + ".";
    if (!settled.Write)
        return note;
    TJobFileWrite& file = *settled.Write;
    try {
        SaveTraceFile(file.FileName, file.Records);
    } catch (...) {
        // A rewrite of a job still waiting for the folder: the retry writes this version.
        FUnsaved.Changed(file);
        if (keep)
            FUnsaved.Add(std::move(file), std::move(pending.JobNumber));
        throw;
    }
    // An older version of this file still waiting would otherwise replace it later.
    FUnsaved.Saved(file.FileName);
    TJobFileEvent event;
    event.FileName = file.FileName;
    event.JobNumber = std::move(pending.JobNumber);
    event.NameShortened = file.NameShortened;
    event.KeptBoth = file.Opened && file.FileName != asked;
    event.Replaced = !settled.Note.empty() && file.FileName == asked;
    event.Records = &file.Records;
    Notify(event);
    return note;
}

TUnsavedJobs::TRetry TJobFiles::RetryUnsaved() {
    return FUnsaved.Retry([this](const std::string& fileName, const TJobFileWrite& file, const std::string& number) {
        TJobFileEvent event;
        event.Kind = TJobFileEvent::TKind::SavedLate;
        event.FileName = fileName;
        event.JobNumber = number;
        event.NameShortened = file.NameShortened;
        event.Records = &file.Records;
        Notify(event);
    });
}

TUnsavedJobs::TFallback TJobFiles::WriteUnsavedElsewhere() {
    return FUnsaved.WriteToFolders(
        FFallbackFolders, [this](const std::string& fileName, const TJobFileWrite& file, const std::string& number) {
            TJobFileEvent event;
            event.Kind = TJobFileEvent::TKind::Elsewhere;
            event.FileName = fileName;
            event.JobNumber = number;
            event.Records = &file.Records;
            Notify(event);
        });
}

TJobFiles::TOpened TJobFiles::Open(const std::string& fileName) {
    TOpened opened;
    std::vector<std::string> lines;
    try {
        lines = ReadLines(fileName);
    } catch (const std::exception& e) {
        opened.Refusal = Sentence(e.what());
        return opened;
    }
    // A file without a usable trace would replace the job shown with nothing, and a rewrite would
    // save an empty job (or binary lines) under its name.
    if (const std::string problem = UnusableTraceFile(lines); !problem.empty()) {
        opened.Refusal = Sentence(problem) + ".";
        return opened;
    }
    // The job shown before is the operator's last word on that job: it is written first.
    opened.Note = Flush();
    opened.Update = FSession.FileOpened(std::move(lines), fileName);
    TJobFileEvent event;
    event.Kind = TJobFileEvent::TKind::Opened;
    event.FileName = fileName;
    event.JobNumber = FSession.Job().Value(jobkey::Job);
    event.Records = &FSession.Job();
    Notify(event);
    return opened;
}

std::string TJobFiles::ClipboardText(const std::string& fileName) {
    std::filesystem::path path = PathFromUtf8(fileName);
    std::error_code error;
    if (!path.is_absolute())
        if (std::filesystem::path whole = std::filesystem::absolute(path, error); !error)
            path = std::move(whole);
    return Utf8FromPath(path.lexically_normal().make_preferred());
}
