// A test-only stand-in for kernel32's GetModuleFileNameW, reached through the program's own
// import pointer. It passes every call on to the real function until a test gives it a path
// to report, which it then answers the way Windows does: cut to the buffer, terminated, and
// with the buffer's size as the result when the path did not fit. Main thread only.
#pragma once

#include <string>

// While the holder lives, GetModuleFileNameW reports the given path ("" makes it fail).
class FakeModulePath {
public:
    explicit FakeModulePath(const std::wstring& path);
    ~FakeModulePath();
    FakeModulePath(const FakeModulePath&) = delete;
    FakeModulePath& operator=(const FakeModulePath&) = delete;
};
