// How an update run and whoever shows it (the progress window) meet without knowing what the
// other is: the window starts the run through a RunStarter and learns its end as a RunEnd; the
// run reports each step's status line and asks its one question through an UpdateProgress,
// which the window answers.
#pragma once

// The watcher fills in the functions it answers; both are called on the run's thread and return
// once handled.
struct UpdateProgress {
    void* watcher = nullptr;  // handed back to each function
    // A new status line; the text is valid during the call only.
    void (*showStatus)(void* watcher, const wchar_t* text) = nullptr;
    // Asked once the transaction has committed and Windows must restart to finish the update:
    // true when Windows is to restart now. Asked only where somebody can answer.
    bool (*confirmRestart)(void* watcher) = nullptr;

    void ShowStatus(const wchar_t* text) const
    {
        if (showStatus != nullptr)
            showStatus(watcher, text);
    }
    // False when nobody watches who could answer.
    bool ConfirmRestart() const { return confirmRestart != nullptr && confirmRestart(watcher); }
};

// How a run ended, for the window: which outcome it shows, and the code the process ends with
// once the window has closed.
struct RunEnd {
    bool succeeded = false;
    int exitCode = 1;
};

// How the window starts the run it was given.
struct RunStarter {
    void* run = nullptr;  // handed back to each function
    // The whole run, on the window's worker thread, with the window's side of its progress.
    RunEnd (*start)(void* run, const UpdateProgress& progress) = nullptr;
    // On the main thread when no worker could be started, with the thread's error: records
    // why, and gives the end of a run that never began.
    RunEnd (*notStarted)(void* run, unsigned long error) = nullptr;
};
