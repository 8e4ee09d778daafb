// Test-only stand-ins for the update run and three system calls, so the window tests choose
// what the worker does and when, and can make a start-up step fail.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "UpdateProgress.h"

// What FakeApplyUpdates does and saw. The test writes it before the run starts
// and reads it after the outcome has been handled: the thread start and SendMessageW order
// the accesses, so no lock is needed.
struct FakeUpdateRun {
    // Runs on the worker thread in place of the update run; its result is the run's.
    std::function<int(const wchar_t* folder, const UpdateProgress& progress)> script;
    int calls = 0;
    std::wstring folder;
    bool folderExisted = false;
    void* watcher = nullptr;  // the progress's watcher, once it answers both its functions
};
extern FakeUpdateRun fakeRun;

// The update run that the tests give the window: records its call in fakeRun and runs the
// script.
int FakeApplyUpdates(const wchar_t* folder, const UpdateProgress& progress);

// Shows a status line as the update run does, then overwrites the run's copy of it: the
// window must have taken its own.
void ShowStatus(const UpdateProgress& progress, const std::wstring& text);

// While set, CoCreateGuid fails (so no working folder name can be made) and _beginthreadex
// starts no thread.
extern bool failGuids;
extern bool failThreads;
// While set, CheckTokenMembership answers that the token holds no group asked about, as for a
// run whose elevation was refused or bypassed (Wine always runs as an administrator).
extern bool notElevated;

// A manual-reset event that a test and the worker's script signal each other with.
class Gate {
public:
    Gate() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Gate() { CloseHandle(event_); }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    void Open() { SetEvent(event_); }
    // Blocks without pumping messages: for the worker, or while the window needs nothing. The
    // limit only keeps a broken test from hanging; it is generous because a loaded machine
    // that emulates 32-bit code can take seconds between two steps of the main thread.
    bool Wait(DWORD ms = 60000) { return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }
    bool IsOpen() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

private:
    HANDLE event_;
};
