// Scripted stand-ins for msi.dll, the shutdown calls of user32/advapi32 and the extraction,
// linked into unit_patching in place of the real ones. Each test fills `fake` with what the
// system should answer and reads back the calls it received, in order, as text.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "UpdateProgress.h"

struct FakePatch {
    std::wstring fileName;
    std::wstring targets;  // the PID_TEMPLATE value
    // The PID_REVNUMBER value: the patch code, then superseded codes; empty: a code made from
    // the file name (FakePatchCode); "-": no such property.
    std::wstring revision = std::wstring();
    bool restartAction = false;         // its transforms add ForceReboot or ScheduleReboot
    bool transformsUnreadable = false;  // the run's own reading of its transforms fails
    // MsiApplyMultiplePatchesW answers with success and registers nothing, as its
    // documentation says it does where none of the patches applies.
    bool appliesNothing = false;
    UINT openResult = ERROR_SUCCESS;
    UINT summaryResult = ERROR_SUCCESS;
    UINT sizeResult = ERROR_MORE_DATA;
    UINT readResult = ERROR_SUCCESS;
};

struct FakeSequenceEntry {
    UINT status;
    DWORD order;
};

// Another account's per-user installation of a product.
struct FakeOtherAccount {
    MSIINSTALLCONTEXT context;
    std::wstring sid;
    std::wstring state = L"5";  // what MsiGetProductInfoExW answers with that SID; empty: an error
};

struct FakeProduct {
    INSTALLSTATE state = INSTALLSTATE_DEFAULT;  // anything else: installed in no context
    // The contexts it is installed in for this account (state "5" in each); "1" (advertised)
    // in the others where advertisedIn says so. MsiEnumProductsExW lists all of them.
    std::vector<MSIINSTALLCONTEXT> contexts = {MSIINSTALLCONTEXT_MACHINE};
    std::vector<MSIINSTALLCONTEXT> advertisedIn;
    std::vector<FakeOtherAccount> otherAccounts;
    std::wstring localPackage;  // per-machine; empty: "C:\cache\" + code + ".msi"
    UINT packageSizeResult = ERROR_SUCCESS;
    UINT packageReadResult = ERROR_SUCCESS;
    UINT packageOpenResult = ERROR_SUCCESS;  // MsiOpenDatabaseW of the cached package
    UINT summaryResult = ERROR_SUCCESS;
    std::wstring packageTemplate = L"Intel;1033";
    std::map<MSIINSTALLCONTEXT, std::wstring> contextTemplates;  // in place of packageTemplate
    UINT templateSizeResult = ERROR_MORE_DATA;
    UINT templateReadResult = ERROR_SUCCESS;
    // The package's InstallExecuteSequence: the restart action it holds (empty: none), and
    // what the query's calls answer where they do not simply succeed.
    std::wstring restartAction;
    UINT viewResult = ERROR_SUCCESS;
    UINT executeResult = ERROR_SUCCESS;
    UINT fetchResult = ERROR_SUCCESS;   // in place of the row or ERROR_NO_MORE_ITEMS
    UINT recordResult = ERROR_SUCCESS;  // MsiRecordGetStringW of the row's action
    // InstalledProductName; Windows answers a product without one with success and an empty
    // text. nameResult, when not ERROR_SUCCESS, is the lookup's error instead.
    std::wstring name;
    UINT nameResult = ERROR_SUCCESS;
    UINT sequenceResult = ERROR_SUCCESS;
    std::vector<FakeSequenceEntry> sequence;  // per entry; empty: all apply, in array order
};

struct FakeSystem {
    // What the system answers.
    int extractResult = 0;
    std::vector<FakePatch> patches;
    std::map<std::wstring, FakeProduct> products;  // codes not here are unknown (state -1)
    UINT enumerateResult = ERROR_NO_MORE_ITEMS;    // MsiEnumProductsExW's answer past the last
    UINT beginResult = ERROR_SUCCESS;
    UINT commitResult = ERROR_SUCCESS;     // MsiEndTransaction(MSITRANSACTIONSTATE_COMMIT)
    UINT rollbackResult = ERROR_SUCCESS;   // MsiEndTransaction(MSITRANSACTIONSTATE_ROLLBACK)
    std::vector<UINT> applyResults;        // one per MsiApplyMultiplePatchesW call, then ERROR_SUCCESS
    UINT enableLogResult = ERROR_SUCCESS;  // MsiEnableLogW
    // "patch code|product code|context" of every patch registered as applied; a successful
    // MsiApplyMultiplePatchesW adds its patch to the product it names, in the one context
    // Windows Installer picks for the running account: the first of user-managed,
    // user-unmanaged and machine where the product is installed.
    std::set<std::wstring> appliedPatches;
    // Other states by the same key: 2 superseded, 4 obsolete; those of patchStatesOnceApplied
    // join them when MsiApplyMultiplePatchesW applies their patch.
    std::map<std::wstring, std::wstring> patchStates;
    std::map<std::wstring, std::wstring> patchStatesOnceApplied;
    // MsiGetPatchInfoExW's error for a key, in place of any state.
    std::map<std::wstring, UINT> patchStateErrors;
    // What Windows Installer no longer lists once a commit has failed: the documentation does
    // not say what a failed commit undoes, so each test says it.
    std::set<std::wstring> undoneByFailedCommit;
    BOOL openTokenResult = TRUE;
    // CoCreateGuid fails, so that no working folder can be named; CheckTokenMembership answers
    // that the token holds no group asked about, as where elevation was refused or bypassed.
    bool guidsFail = false;
    bool notElevated = false;
    // Called when ExitWindowsEx is, to look at what the run has left behind at that moment; and
    // when the extraction is, with the folder it was given.
    std::function<void()> onRestart;
    std::function<void(const std::wstring&)> onExtract;
    BOOL lookupResult = TRUE;

    // What the system saw. Calls are one line each, such as
    // "MsiOpenDatabaseW(C:\w\a.msp, 32)"; a line ends in " BAD-ARGS" when an argument that
    // never varies is off (a null that should not be, a buffer not zero-filled...), and in
    // " RESTART-ACTION-IN-TRANSACTION" for a patch with a restart action applied inside a
    // transaction: Windows stops and rolls back such a package ("ScheduleReboot action",
    // "ForceReboot action") without naming the code it then answers, so the fake answers none
    // of its own and marks the call, which the run must never make.
    std::vector<std::wstring> calls;
    std::map<MSIHANDLE, std::wstring> openHandles;  // by label, such as "summary:a.msp"
    MSIHANDLE nextHandle = 100;
    std::wstring folder;  // given to ExtractUpdates
    size_t applyCount = 0;
    bool transactionOpen = false;  // begun, and not ended since
    HANDLE token = nullptr;        // a real event standing in for the process token
};

extern FakeSystem fake;

// Back to an empty script; closes a token left from an earlier test.
void ResetFake();

// The calls whose lines begin with prefix.
std::vector<std::wstring> CallsStartingWith(const std::wstring& prefix);

// The product's package path in a context as the fake reports it.
std::wstring PackagePath(const std::wstring& code, const FakeProduct& product,
                         MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_MACHINE);

// The running account's SID, as the fake lists its per-user installations.
const std::wstring& RunningSid();

// The patch code the fake gives the patch (empty for none).
std::wstring FakePatchCode(const FakePatch& patch);

// The key of fake.appliedPatches.
std::wstring AppliedKey(const std::wstring& patchCode, const std::wstring& product, MSIINSTALLCONTEXT context);

// The run's progress as a watcher such as the window gives it: keeps every status line, and
// answers the restart question with restartAnswer, noting the question in fake.calls as
// "ConfirmRestart".
class StatusWatcher {
public:
    explicit StatusWatcher(bool restartAnswer = false);
    StatusWatcher(const StatusWatcher&) = delete;
    StatusWatcher& operator=(const StatusWatcher&) = delete;
    const UpdateProgress& get() const { return progress_; }
    const std::vector<std::wstring>& texts() const { return texts_; }

private:
    static void Show(void* watcher, const wchar_t* text);
    static bool Confirm(void* watcher);

    UpdateProgress progress_;
    std::vector<std::wstring> texts_;
    bool restartAnswer_;
};

// The patch path copies handed to MsiDeterminePatchSequenceW are watched until freed; each
// free of one is recorded as the call "free(<path>)".
void WatchPatchData(const void* copy);
size_t LivePatchDataCount();
void ForgetPatchData();
