// Stand-ins for the restart: the program calls these user32 and advapi32 functions through
// their import pointers, and here the pointers lead to fakes. The real ExitWindowsEx is
// therefore never reachable from this binary. Also CoCreateGuid and CheckTokenMembership, which
// fail where a test says so and otherwise answer as the real ones; StgOpenStorage, which opens for each
// scripted patch a real structured storage made in memory with a transform as the script
// describes it; the extraction, which fills the update table from the script instead of
// reading a payload; a free that notes when a patch path copy handed to
// MsiDeterminePatchSequenceW is released; and the run's watcher.
#include <objbase.h>
#include <strsafe.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppState.h"
#include "Extraction.h"
#include "Fakes.h"
#include "ImportSeam.h"
#include "TransformFormat.h"
#include "RunRecord.h"
#include "TestFiles.h"

namespace {

std::wstring Hex(unsigned long value)
{
    wchar_t text[16];
    StringCchPrintfW(text, ARRAYSIZE(text), L"0x%08lx", value);
    return text;
}

BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD access, HANDLE* token)
{
    // Reading the running account goes to the real token: the run compares it with the
    // accounts Windows Installer lists, which the fake lists for the real account too.
    if (access == TOKEN_QUERY) {
        auto real = reinterpret_cast<decltype(&FakeOpenProcessToken)>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "OpenProcessToken")));
        return real(process, access, token);
    }
    fake.calls.push_back(L"OpenProcessToken(" + std::wstring(process == GetCurrentProcess() ? L"current" : L"other") +
                         L", " + Hex(access) + L")");
    if (!fake.openTokenResult) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A real kernel handle, so that the program's CloseHandle on it can be seen.
    fake.token = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    *token = fake.token;
    return TRUE;
}

BOOL WINAPI FakeLookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, LUID* luid)
{
    fake.calls.push_back(L"LookupPrivilegeValueW(" + std::wstring(system == nullptr ? L"null" : system) + L", " + name +
                         L")");
    if (!fake.lookupResult) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = 19;
    luid->HighPart = 0;
    return TRUE;
}

BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState, DWORD length,
                                      TOKEN_PRIVILEGES* previous, DWORD* returnLength)
{
    std::wstring state = L"null";
    if (newState != nullptr)
        state = std::to_wstring(newState->PrivilegeCount) + L" x luid " +
                std::to_wstring(newState->Privileges[0].Luid.LowPart) + L":" +
                std::to_wstring(newState->Privileges[0].Luid.HighPart) + L" attributes " +
                std::to_wstring(newState->Privileges[0].Attributes);
    fake.calls.push_back(L"AdjustTokenPrivileges(" + std::wstring(token == fake.token ? L"token" : L"other") + L", " +
                         std::to_wstring(disableAll) + L", " + state + L", " + std::to_wstring(length) + L", " +
                         (previous == nullptr ? L"null" : L"set") + L", " +
                         (returnLength == nullptr ? L"null" : L"set") + L")");
    return TRUE;
}

BOOL WINAPI FakeExitWindowsEx(UINT flags, DWORD reason)
{
    std::wstring line = L"ExitWindowsEx(" + std::to_wstring(flags) + L", " + Hex(reason) + L")";
    DWORD information = 0;
    if (fake.token != nullptr) {
        if (GetHandleInformation(fake.token, &information)) {
            line += L" token still open";
        } else {
            fake.token = nullptr;
        }
    }
    fake.calls.push_back(line);
    if (fake.onRestart)
        fake.onRestart();
    return TRUE;
}

HRESULT WINAPI FakeCoCreateGuid(GUID* guid)
{
    if (fake.guidsFail)
        return E_FAIL;
    static auto real = reinterpret_cast<decltype(&FakeCoCreateGuid)>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"ole32.dll"), "CoCreateGuid")));
    return real(guid);
}

BOOL WINAPI FakeCheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember)
{
    if (fake.notElevated) {
        *isMember = FALSE;
        return TRUE;
    }
    static auto real = reinterpret_cast<decltype(&FakeCheckTokenMembership)>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"advapi32.dll"), "CheckTokenMembership")));
    return real(token, sid, isMember);
}

void PutBytes(std::vector<uint8_t>& out, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool AddStream(IStorage* storage, const char* name, const std::vector<uint8_t>& bytes)
{
    wchar_t stored[64];
    compound::EncodeStreamName(name, true, stored, ARRAYSIZE(stored));
    IStream* stream = nullptr;
    if (FAILED(storage->CreateStream(stored, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream)))
        return false;
    ULONG written = 0;
    HRESULT result = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    stream->Release();
    return SUCCEEDED(result) && written == bytes.size();
}

// A patch package as a structured storage in memory, with one transform T1 that holds a string
// pool and, for a patch with a restart action, an InstallExecuteSequence row that inserts
// ScheduleReboot; for one whose transforms cannot be read, a row that claims more columns
// than the table has.
HRESULT MakePatchStorage(const FakePatch& patch, IStorage** root)
{
    ILockBytes* bytes = nullptr;
    HRESULT result = CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
    if (FAILED(result))
        return result;
    result = StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, root);
    bytes->Release();
    if (FAILED(result))
        return result;
    IStorage* transform = nullptr;
    result = (*root)->CreateStorage(L"T1", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &transform);
    if (FAILED(result))
        return result;
    const std::string strings[] = {"ScheduleReboot", "NOT Installed"};
    std::vector<uint8_t> pool, data;
    PutBytes(pool, 1252, 4);  // the code page; 2-byte string references
    for (const std::string& text : strings) {
        PutBytes(pool, static_cast<uint32_t>(text.size()), 2);
        PutBytes(pool, 1, 2);
        data.insert(data.end(), text.begin(), text.end());
    }
    bool made = AddStream(transform, "_StringPool", pool) && AddStream(transform, "_StringData", data);
    if (patch.restartAction || patch.transformsUnreadable) {
        std::vector<uint8_t> rows;
        PutBytes(rows, patch.transformsUnreadable ? 0x0501 : 0x0301, 2);  // a whole row of 3 (or 5) columns
        PutBytes(rows, 1, 2);                                             // Action: ScheduleReboot
        PutBytes(rows, 2, 2);                                             // Condition
        PutBytes(rows, 0x8000 + 6590, 2);                                 // Sequence
        made = made && AddStream(transform, "InstallExecuteSequence", rows);
    }
    transform->Release();
    return made ? S_OK : E_FAIL;
}

HRESULT WINAPI FakeStgOpenStorage(const WCHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
                                  IStorage** storage)
{
    *storage = nullptr;
    if (priority != nullptr || exclude != nullptr || reserved != 0 || mode != (STGM_READ | STGM_SHARE_DENY_WRITE))
        return STG_E_INVALIDPARAMETER;
    for (const FakePatch& patch : fake.patches) {
        if (name != nullptr && fake.folder + L"\\" + patch.fileName == name)
            return MakePatchStorage(patch, storage);
    }
    return STG_E_FILENOTFOUND;
}

// Live copies handed to MsiDeterminePatchSequenceW, not yet freed.
std::vector<const void*> livePatchData;

}  // namespace

// The import pointers of the replaced functions, under their assembler names.
extern "C" {
decltype(&FakeOpenProcessToken) fakeOpenProcessToken __asm__(TV_IMPORT_STDCALL(OpenProcessToken,
                                                                               12)) = FakeOpenProcessToken;
decltype(&FakeLookupPrivilegeValueW) fakeLookupPrivilegeValueW __asm__(TV_IMPORT_STDCALL(LookupPrivilegeValueW, 12)) =
    FakeLookupPrivilegeValueW;
decltype(&FakeAdjustTokenPrivileges) fakeAdjustTokenPrivileges __asm__(TV_IMPORT_STDCALL(AdjustTokenPrivileges, 24)) =
    FakeAdjustTokenPrivileges;
decltype(&FakeExitWindowsEx) fakeExitWindowsEx __asm__(TV_IMPORT_STDCALL(ExitWindowsEx, 8)) = FakeExitWindowsEx;
decltype(&FakeStgOpenStorage) fakeStgOpenStorage __asm__(TV_IMPORT_STDCALL(StgOpenStorage, 24)) = FakeStgOpenStorage;
decltype(&FakeCoCreateGuid) fakeCoCreateGuid __asm__(TV_IMPORT_STDCALL(CoCreateGuid, 4)) = FakeCoCreateGuid;
decltype(&FakeCheckTokenMembership) fakeCheckTokenMembership __asm__(TV_IMPORT_STDCALL(CheckTokenMembership,
                                                                                       12)) = FakeCheckTokenMembership;

// The link wraps free (-Wl,--wrap=free): every free of this binary comes through here.
void __real_free(void* block);
void __wrap_free(void* block)
{
    static bool inside = false;
    if (!inside && block != nullptr) {
        auto live = std::find(livePatchData.begin(), livePatchData.end(), block);
        if (live != livePatchData.end()) {
            inside = true;
            livePatchData.erase(live);
            fake.calls.push_back(L"free(" + std::wstring(static_cast<const wchar_t*>(block)) + L")");
            inside = false;
        }
    }
    __real_free(block);
}
}

static const bool seamsInPlace =
    RequireSeam("advapi32.dll", "OpenProcessToken") && RequireSeam("advapi32.dll", "LookupPrivilegeValueW") &&
    RequireSeam("advapi32.dll", "AdjustTokenPrivileges") && RequireSeam("user32.dll", "ExitWindowsEx") &&
    RequireSeam("ole32.dll", "StgOpenStorage") && RequireSeam("ole32.dll", "CoCreateGuid") &&
    RequireSeam("advapi32.dll", "CheckTokenMembership");

void WatchPatchData(const void* copy)
{
    livePatchData.push_back(copy);
}

size_t LivePatchDataCount()
{
    return livePatchData.size();
}

int ExtractUpdates(const wchar_t* folder, UpdateTable* table, RunRecord& record, Sha256Pipe*)
{
    fake.calls.push_back(L"ExtractUpdates(" + std::wstring(folder) + L")");
    fake.folder = folder;
    if (fake.onExtract)
        fake.onExtract(folder);
    if (fake.extractResult != 0)
        return fake.extractResult;
    for (const FakePatch& patch : fake.patches) {
        PatchFileInfo entry{};
        StringCchCopyW(entry.fileName, ARRAYSIZE(entry.fileName), patch.fileName.c_str());
        table->push_back(entry);
    }
    // What the real extraction tells the run's record, every file written.
    for (const PatchFileInfo& entry : *table)
        record.RecordCarriedFile(entry.fileName, ARRAYSIZE(entry.fileName), 0);
    for (size_t i = 0; i < table->size(); ++i)
        record.RecordFileWritten(nullptr);
    return 0;
}

StatusWatcher::StatusWatcher(bool restartAnswer) : restartAnswer_(restartAnswer)
{
    progress_.watcher = this;
    progress_.showStatus = Show;
    progress_.confirmRestart = Confirm;
}

void StatusWatcher::Show(void* watcher, const wchar_t* text)
{
    static_cast<StatusWatcher*>(watcher)->texts_.push_back(text);
}

bool StatusWatcher::Confirm(void* watcher)
{
    fake.calls.push_back(L"ConfirmRestart");
    return static_cast<StatusWatcher*>(watcher)->restartAnswer_;
}

void ForgetPatchData()
{
    livePatchData.clear();
}
