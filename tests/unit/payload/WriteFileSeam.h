// A test-only stand-in for kernel32's WriteFile, reached through the program's own import
// pointer. It passes every call on to the real function until a test arms a fault; the log
// file's writes always pass. Main thread of the test binary only.
#pragma once

#include <windows.h>

enum class WriteFault {
    None,
    Fail,   // the call fails with ERROR_DISK_FULL and writes nothing
    Short,  // the call succeeds but writes only half of what it was given
};

// Arms a fault for the write that comes after the given number of passed writes; it stays
// armed for every later write until the holder goes away.
class ArmedWriteFault {
public:
    ArmedWriteFault(WriteFault fault, int passedWrites);
    ~ArmedWriteFault();
    ArmedWriteFault(const ArmedWriteFault&) = delete;
    ArmedWriteFault& operator=(const ArmedWriteFault&) = delete;
};
