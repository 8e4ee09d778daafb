// What the payload code told the run's log and record, as the fuzzer's stand-ins for them
// noted it (RunStandIns.cpp): the checks compare it with what the payload holds. One thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CarriedFileNote {
    std::wstring name;  // up to its NUL, or the whole field when there is none
    uint32_t size;
};

struct RunNotes {
    int failuresLogged = 0;
    std::vector<CarriedFileNote> carriedFiles;
    size_t filesWritten = 0;
};

extern RunNotes runNotes;

void ResetRunNotes();
