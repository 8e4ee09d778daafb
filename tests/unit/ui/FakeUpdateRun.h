// Test-only stand-ins for the run and for starting a thread, so the window tests choose what the
// worker does and when, and can keep the worker from starting.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "UpdateProgress.h"

// What the fake run does and saw. The test writes it before the run starts and reads it after
// the outcome has been handled: the thread start and SendMessageW order the accesses, so no lock
// is needed.
struct FakeUpdateRun {
    // Runs on the worker thread in place of the run; its result is the run's, whose end the
    // window is given as the run object gives it (RunSucceeded, RunExitCode).
    std::function<int(const UpdateProgress& progress)> script;
    int calls = 0;
    void* watcher = nullptr;  // the progress's watcher, once it answers both its functions
    int notStartedCalls = 0;  // the window reported a worker that could not start
};
extern FakeUpdateRun fakeRun;

// The run that the tests give the window: records its calls in fakeRun and runs the script.
RunStarter FakeRunStarter();

// Shows a status line as the update run does, then overwrites the run's copy of it: the
// window must have taken its own.
void ShowStatus(const UpdateProgress& progress, const std::wstring& text);

// While set, _beginthreadex starts no thread.
extern bool failThreads;

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
