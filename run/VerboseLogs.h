// The verbose Windows Installer log of each applied patch. Windows Installer writes it wherever
// it is told and follows any link it finds there, and its name in the log folder is
// predictable; so it is written inside the run's working folder, which only SYSTEM and
// Administrators may change, and copied into the log folder through the checked open once the
// run has made its last Windows Installer call. One VerboseLogs belongs to one run and is used
// by the run's thread only.
#pragma once

#include <string>
#include <vector>

// "PATCH.msp {PRODUCT-CODE}.log": the name of a patch's verbose log in the log folder.
std::wstring VerboseLogName(const wchar_t* fileName, const std::wstring& productCode);

struct RecordedVerboseLog {
    std::wstring workingPath;  // where Windows Installer writes it
    std::wstring name;         // its name in the log folder
};

class VerboseLogs {
public:
    // For the verbose log that belongs at name in the log folder: records it and gives the path
    // inside workingFolder where Windows Installer is to write it, a name that no file there has
    // yet.
    std::wstring Place(const wchar_t* workingFolder, const std::wstring& name);

    // Copies each recorded log that exists into the log folder under its name there, through
    // OpenLogFolderFile; a log whose place the check refuses is logged and skipped. Then forgets
    // them.
    void CopyToLogFolder();

    // What has been recorded and not yet copied, in order.
    const std::vector<RecordedVerboseLog>& Recorded() const { return recorded_; }

private:
    std::vector<RecordedVerboseLog> recorded_;
    // The number of the next name to try; counting on from the last one given keeps two logs of
    // a run apart even before Windows Installer has created the first.
    unsigned nextNumber_ = 1;
};
