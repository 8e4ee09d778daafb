// Files and folders for tests: unique temporary folders, whole-file reads and writes, log
// parsing, and putting the process-wide run state back to its start-up values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A new, empty folder under the temporary folder; removed with everything in it when the
// object goes away.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);

enum class Entries { All, Files, Folders };

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder, Entries which = Entries::All);

// The user's temporary folder, without a final backslash.
std::wstring TemporaryFolder();

// The Windows folder's Temp folder, where the updater makes its working folder, without a
// final backslash.
std::wstring WindowsTempFolder();
bool FileExists(const std::wstring& path);
bool ReadAllBytes(const std::wstring& path, Bytes& bytes);
bool WriteAllBytes(const std::wstring& path, const Bytes& bytes);

// The messages of a log written by LogMessage, time stamps and line ends removed. Fails the
// current test when a line does not have the log's shape.
std::vector<std::wstring> ReadLogMessages(const std::wstring& path);

// Closes appState's handles and empties its fields, and empties the run's record, as at the
// start of a process.
void ResetAppState();

// Arguments left on the test binary's command line after GoogleTest took its own.
extern std::vector<std::wstring> testArguments;

// UTF-16LE bytes of a text, as the payload and the log hold it.
Bytes Utf16Bytes(const std::wstring& text);

// Keeps the result file that an updater run wrote into logFolder for the result files'
// check (tests/e2e/check-results.py): copies it, as "SUITE.TEST[.label].json", into the
// folder that the environment variable TESSARVANE_RESULTS names. Fails the current test when
// the run left no result file, or left its temporary file behind.
void KeepResultFile(const std::wstring& logFolder, const std::wstring& label = L"");
