// How an update run reaches whoever shows it (the progress window), without knowing what that
// is: a status line for each step, and the one question the run asks. The watcher fills in the
// functions it answers; both are called on the run's thread and return once handled.
#pragma once

struct UpdateProgress {
    void* watcher = nullptr;  // handed back to each function
    // A new status line; the text is valid during the call only.
    void (*showStatus)(void* watcher, const wchar_t* text) = nullptr;
    // Asked once the transaction has committed and Windows must restart to finish the update:
    // true when Windows is to restart now. Whatever must be kept is written before it answers
    // true, since Windows may end the process before anything else runs.
    bool (*confirmRestart)(void* watcher) = nullptr;

    void ShowStatus(const wchar_t* text) const
    {
        if (showStatus != nullptr)
            showStatus(watcher, text);
    }
    // False when nobody watches who could answer.
    bool ConfirmRestart() const { return confirmRestart != nullptr && confirmRestart(watcher); }
};
