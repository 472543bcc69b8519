// TJobFiles: the one place job trace files are written and opened. A tracer's job is written at
// once (and kept until the traces folder takes it when it cannot be); the operator's changes
// are rewrites, of which only the last one asked for before Flush() is written; an opened file is
// read, checked and handed to the job session. Everyone who follows the job files (the window's
// clipboard, a list of recent jobs) subscribes to one event for every file written or opened.
#pragma once

#include "app/core/JobSession.h"
#include "app/core/UnsavedJobs.h"
#include "common/RecordList.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A job trace file written or opened.
struct TJobFileEvent {
    enum class TKind {
        Written,   // the job shown, written in the traces folder (a tracer's job, a change, an opened job)
        SavedLate, // a job that waited for the traces folder was written there
        Elsewhere, // at the end, a job the traces folder never took was written to a fallback folder
        Opened     // a job trace file was opened and is the job shown
    };
    TKind Kind = TKind::Written;
    std::string FileName;       // as the core names files (8-bit: the system's bytes, UTF-8 on Windows)
    std::string JobNumber;      // the JOB record as the job holds it; may be empty
    bool NameShortened = false; // the job number was too long to be the file's name as it stands
    bool KeptBoth = false;      // an opened job was written beside the other job its name holds
    bool Replaced = false;      // an opened job replaced another job in the traces folder
    // The file's records as written, or the job as opened; valid during the call only.
    const TRecordList* Records = nullptr;
};
using TJobFileListener = std::function<void(const TJobFileEvent&)>;

class TJobFiles {
public:
    // The session settles where an opened job's file goes and takes in opened files.
    explicit TJobFiles(TJobSession& session);
    TJobFiles(const TJobFiles&) = delete;
    TJobFiles& operator=(const TJobFiles&) = delete;

    // Called for every file written or opened, in subscription order; returns the id that
    // Unsubscribe takes.
    int Subscribe(TJobFileListener listener);
    void Unsubscribe(int id);

    // Asked when writing an opened job would replace another job in the traces folder; without
    // it nothing is written.
    TAskReplace OnAskReplace;
    // A rewrite waits: Flush() is to be called once the current event-loop pass is over. Called
    // once until Flush() runs.
    std::function<void()> OnFlushWanted;

    // A rewrite of the job's file (the operator changed the job): only the last one asked for
    // before Flush() is written.
    void Write(TJobFileWrite file);
    // Writes the rewrite waiting, if any. Returns what the operator is to read about where an
    // opened job went (empty: nothing). Raises EInOutError when the file cannot be written.
    std::string Flush();
    // Writes the file at once, after the rewrite waiting (another job's, a file of its own).
    // Returns and raises as Flush().
    std::string WriteNow(TJobFileWrite file);
    // A tracer's job, answered already: written at once like WriteNow, but a file the traces
    // folder does not take is kept and tried again (RetryUnsaved) instead of raised. Returns why
    // it was not written; empty when it was.
    std::string WriteTracerJob(TJobFileWrite file);
    // True while the operator is asked about an opened job's file: rewrites wait for the answer.
    bool Asking() const { return FAsking; }

    // The jobs the traces folder has not taken yet, and their retry; the job numbers saved now.
    std::size_t UnsavedCount() const { return FUnsaved.Count(); }
    TUnsavedJobs::TRetry RetryUnsaved();
    // Where unsaved jobs go at the end (the first folder that takes them).
    void SetFallbackFolders(std::vector<std::string> folders) { FFallbackFolders = std::move(folders); }
    const std::vector<std::string>& FallbackFolders() const { return FFallbackFolders; }
    // At the end: writes what still waits to the first fallback folder that takes each job.
    // Nothing waits afterwards.
    TUnsavedJobs::TFallback WriteUnsavedElsewhere();

    struct TOpened {
        // Why the file gives no job, as a sentence ("The file is empty."); empty when it was opened.
        std::string Refusal;
        TJobUpdate Update; // the session's answer to the opened job
        std::string Note;  // what Flush() said of the rewrite written first
    };
    // Reads and checks a job trace file; a file that gives a job becomes the job shown (the
    // rewrite waiting is written first: the operator's last word on the job shown before).
    // Raises EInOutError when that rewrite cannot be written.
    TOpened Open(const std::string& fileName);

    // What the clipboard is to hold for a file: its full name in the system's own notation
    // (C:\...\123.txt on Windows), for pasting into a web form.
    static std::string ClipboardText(const std::string& fileName);

private:
    struct TPending {
        TJobFileWrite File;
        std::string JobNumber;
    };
    // Settles where the file goes, writes it and tells the listeners. A file that cannot be
    // written raises; `keep` keeps it for RetryUnsaved first.
    std::string Settle(TPending pending, bool keep = false);
    void Notify(const TJobFileEvent& event);

    TJobSession& FSession;
    std::vector<std::pair<int, TJobFileListener>> FListeners;
    int FNextId = 1;
    std::optional<TPending> FPending;
    bool FFlushWanted = false;
    bool FAsking = false;
    TUnsavedJobs FUnsaved;
    std::vector<std::string> FFallbackFolders;
};
