// A test-only stand-in for kernel32's WriteFile, reached through the program's own import
// pointer. It passes every call on to the real function until a test arms a fault; the log
// file's writes always pass. Main thread of the test binary only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

// Right before the next write that is not the log's, creates the file path with content, as
// somebody else might while the extraction is copying.
void PlantBeforeNextWrite(const std::wstring& path, const std::vector<unsigned char>& content);
