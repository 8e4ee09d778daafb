// Rendering the run record as the result document, and writing it so that the file appears
// whole or not at all. Main thread, after any worker has reported.
#include "ResultFile.h"

#include <msi.h>
#include <strsafe.h>

#include "AppState.h"
#include "Log.h"
#include "LogFolderFile.h"
#include "RunRecord.h"

namespace {

const char* ModeName(RunMode mode)
{
    switch (mode) {
    case RunMode::Extract:
        return "extract";
    case RunMode::Unattended:
    case RunMode::Invalid:  // only a line with -a is rejected without a box, and logged
        return "unattended";
    default:
        return "interactive";
    }
}

const char* const stepNames[] = {nullptr,           "command-line", "payload",   "extraction", "reading-patch",
                                 "reading-product", "sequencing",   "beginning", "applying",   "committing",
                                 "working-folder",  "worker",       "elevation", "verifying"};
static_assert(sizeof(stepNames) / sizeof(stepNames[0]) == runStepCount, "one name for each RunStep");

const char* const statusNames[] = {"not-attempted", "applied",        "already-applied",  "not-applicable",
                                   "failed",        "rolled-back",    "superseded",       "obsolete",
                                   "other-account", "not-registered", "target-not-found", "other-context",
                                   "unknown"};
static_assert(sizeof(statusNames) / sizeof(statusNames[0]) == patchStatusCount, "one name for each PatchStatus");

// MSIINSTALLCONTEXT_USERMANAGED (1), _USERUNMANAGED (2), _MACHINE (4).
const char* ContextName(DWORD context)
{
    switch (context) {
    case MSIINSTALLCONTEXT_MACHINE:
        return "machine";
    case MSIINSTALLCONTEXT_USERMANAGED:
        return "user-managed";
    case MSIINSTALLCONTEXT_USERUNMANAGED:
        return "user-unmanaged";
    default:
        return nullptr;
    }
}

// Never a success that a step, the run's result or the exit code contradicts.
const char* Outcome(int exitCode)
{
    const RunRecord& run = runRecord;
    bool exitFailed = exitCode != 0 && !(appState.runMode == RunMode::Unattended && exitCode == 3010);
    if (run.failedStep != RunStep::None || exitFailed || (run.runStarted && !run.runEnded) ||
        (run.runEnded && !RunResultSucceeded(run.runResult)))
        return "failed";
    if (appState.runMode == RunMode::Extract)
        return "succeeded";
    if (!run.runStarted)
        return "cancelled";
    for (const PatchRecord& patch : run.patches) {
        if (patch.status == PatchStatus::Applied)
            return "succeeded";
    }
    return "nothing-to-do";
}

const char* PlatformName(PackagePlatform platform)
{
    switch (platform) {
    case PackagePlatform::X86:
        return "x86";
    case PackagePlatform::X64:
        return "x64";
    case PackagePlatform::Arm64:
        return "arm64";
    case PackagePlatform::Ia64:
        return "ia64";
    default:
        return nullptr;
    }
}

// null where the run asked for no transaction.
void Transaction(JsonWriter& json, TransactionUse use)
{
    if (use == TransactionUse::None)
        json.Null("transaction");
    else
        json.Boolean("transaction", use == TransactionUse::Inside);
}

// Windows Installer was given a verbose log wherever it was asked to apply a patch.
bool ApplyWasAsked(PatchStatus status)
{
    return status == PatchStatus::Applied || status == PatchStatus::Failed || status == PatchStatus::RolledBack ||
           status == PatchStatus::NotRegistered || status == PatchStatus::Unknown;
}

void Time(JsonWriter& json, const char* name, const SYSTEMTIME& time)
{
    wchar_t text[32];
    StringCchPrintfW(text, ARRAYSIZE(text), L"%04hu-%02hu-%02huT%02hu:%02hu:%02hu.%03huZ", time.wYear, time.wMonth,
                     time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    json.String(name, text, wcslen(text));
}

void Text(JsonWriter& json, const char* name, const wchar_t* text, size_t length)
{
    if (length == 0)
        json.Null(name);
    else
        json.String(name, text, length);
}

void Pooled(JsonWriter& json, const char* name, const PooledText& text)
{
    Text(json, name, runRecord.pool.data() + text.offset, text.length);
}

void AsciiOrNull(JsonWriter& json, const char* name, const char* text)
{
    if (text == nullptr)
        json.Null(name);
    else
        json.Ascii(name, text);
}

// The pieces between semicolons, as the run splits a target list: empty ones included, and
// none after a final semicolon.
void Targets(JsonWriter& json, const PooledText& targets)
{
    json.BeginArray("targets");
    const wchar_t* text = runRecord.pool.data() + targets.offset;
    size_t start = 0;
    for (size_t i = 0; i <= targets.length; ++i) {
        if (i < targets.length && text[i] != L';')
            continue;
        if (i < targets.length || start < targets.length)
            json.String(nullptr, text + start, i - start);
        start = i + 1;
    }
    json.EndArray();
}

void Entries(JsonWriter& json)
{
    json.BeginArray("entries");
    for (size_t i = 0; i < runRecord.files.size(); ++i) {
        const CarriedFileRecord& file = runRecord.files[i];
        json.BeginObject();
        json.Number("index", static_cast<uint32_t>(i));
        Pooled(json, "name", file.name);
        json.Number("size", file.size);
        json.Boolean("written", file.written);
        if (file.written) {
            char hex[65];
            for (int k = 0; k < 64; ++k)
                hex[k] = "0123456789abcdef"[(file.sha256[k / 2] >> (k % 2 ? 0 : 4)) & 15];
            hex[64] = '\0';
            json.Ascii("sha256", hex);
        } else {
            json.Null("sha256");
        }
        if (file.summaryRead) {
            Text(json, "patchCode", file.patchCode, wcslen(file.patchCode));
            Targets(json, file.targets);
        } else {
            json.Null("patchCode");
            json.Null("targets");
        }
        json.EndObject();
    }
    json.EndArray();
}

void Products(JsonWriter& json)
{
    const std::wstring& pool = runRecord.pool;
    json.BeginArray("products");
    for (const ProductRecord& product : runRecord.products) {
        json.BeginObject();
        Pooled(json, "productCode", product.code);
        Pooled(json, "displayName", product.displayName);
        if (product.installed < 0)
            json.Null("installed");
        else
            json.Boolean("installed", product.installed != 0);
        AsciiOrNull(json, "context", ContextName(product.context));
        Pooled(json, "userSid", product.userSid);
        AsciiOrNull(json, "platform", PlatformName(product.platform));
        Transaction(json, product.transaction);
        json.BeginArray("patches");
        for (uint32_t i = 0; i < product.patchCount; ++i) {
            const PatchRecord& patch = runRecord.patches[product.firstPatch + i];
            // Every index names a carried file; an empty name stands in should one not.
            size_t file = static_cast<size_t>(patch.index);
            PooledText name = file < runRecord.files.size() ? runRecord.files[file].name : PooledText();
            json.BeginObject();
            json.Number("index", static_cast<uint32_t>(patch.index));
            Pooled(json, "name", name);
            json.Ascii("status", statusNames[static_cast<int>(patch.status)]);
            if (patch.hasResult)
                json.Number("resultCode", patch.resultCode);
            else
                json.Null("resultCode");
            if (patch.patchState >= 0)
                json.Number("patchState", static_cast<uint32_t>(patch.patchState));
            else
                json.Null("patchState");
            // "PATCH.msp {PRODUCT-CODE}.log" in the log folder.
            if (ApplyWasAsked(patch.status)) {
                json.BeginString("verboseLog");
                json.AppendText(pool.data() + name.offset, name.length);
                json.AppendText(L" ", 1);
                json.AppendText(pool.data() + product.code.offset, product.code.length);
                json.AppendText(L".log", 4);
                json.EndString();
            } else {
                json.Null("verboseLog");
            }
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

void FormatRunResult(JsonWriter& json, int exitCode, const SYSTEMTIME& endTime)
{
    const char* outcome = Outcome(exitCode);
    json.BeginObject();
    json.Number("schemaVersion", ResultSchemaVersion);
    json.Ascii("flavour", sizeof(void*) == 8 ? "x64" : "x86");
    json.Ascii("mode", ModeName(appState.runMode));
    Time(json, "startTime", runRecord.startTime);
    Time(json, "endTime", endTime);
    json.Number("exitCode", static_cast<uint32_t>(exitCode));
    json.Ascii("outcome", outcome);
    json.Boolean("restartRequired", runRecord.runEnded && runRecord.runResult == ERROR_SUCCESS_REBOOT_REQUIRED);
    json.Boolean("restartRequested", runRecord.restartRequested);
    Transaction(json, runRecord.transaction);
    Text(json, "productName", appState.productName.data(), appState.productName.size());
    Text(json, "productVersion", appState.productVersion.data(), appState.productVersion.size());
    if (appState.runMode == RunMode::Extract)
        json.String("extractFolder", appState.extractFolder.data(), appState.extractFolder.size());
    else
        json.Null("extractFolder");
    Entries(json);
    Products(json);
    json.Number("installationsNotPatched", InstallationsNotPatched());
    if (outcome[0] != 'f') {
        json.Null("failure");
    } else {
        json.BeginObject("failure");
        AsciiOrNull(json, "step", stepNames[static_cast<int>(runRecord.failedStep)]);
        bool recorded = runRecord.failedStep != RunStep::None;
        json.Number("errorCode", recorded ? runRecord.failureCode : static_cast<uint32_t>(runRecord.runResult));
        Pooled(json, "message", runRecord.failureMessage);
        json.EndObject();
    }
    json.EndObject();
}

bool WritesResultFile()
{
    return appState.logFile != INVALID_HANDLE_VALUE;
}

int FinishRun(int exitCode)
{
    if (!WritesResultFile())
        return exitCode;
    SYSTEMTIME endTime;
    GetSystemTime(&endTime);
    JsonWriter json;
    FormatRunResult(json, exitCode, endTime);
    if (!json.Complete()) {
        LogMessage(L"The result file could not be made: out of memory.");
        return exitCode;
    }

    // Written under a temporary name and renamed, so that a reader never sees half a file. The
    // temporary file is opened through the log folder's checked open; a name left there from an
    // earlier run (a link included: deleting a link removes only the link) is deleted first, so
    // that it cannot keep this run from writing its result. The rename replaces whatever holds
    // the final name without writing through it.
    std::wstring path = appState.logFolder;
    path += L"TessarvaneUpdater.json";
    std::wstring temporary = path;
    temporary += L".tmp";
    DeleteFileW(temporary.c_str());
    HANDLE file = OpenLogFolderFile(L"TessarvaneUpdater.json.tmp");
    if (file == INVALID_HANDLE_VALUE) {
        LogFormattedMessage(L"Creating the result file failed with error=%u.", GetLastError());
        return exitCode;
    }
    DWORD written = 0;
    BOOL complete =
        WriteFile(file, json.Data(), static_cast<DWORD>(json.Size()), &written, nullptr) && written == json.Size();
    complete = CloseHandle(file) && complete;
    if (!complete || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        LogFormattedMessage(L"Writing the result file failed with error=%u.", GetLastError());
        DeleteFileW(temporary.c_str());
    }
    return exitCode;
}
