// Rendering the run record as the result document, and writing it so that the file appears
// whole or not at all. Any thread, one at a time; the run's thread calls it at the run's end.
#include "ResultFile.h"

#include <msi.h>
#include <strsafe.h>

#include "AppState.h"
#include "Log.h"
#include "LogFolderFile.h"

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

const char* OutcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Succeeded:
        return "succeeded";
    case RunOutcome::NothingToDo:
        return "nothing-to-do";
    case RunOutcome::Failed:
        return "failed";
    default:
        return "cancelled";
    }
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

void Pooled(JsonWriter& json, const RunRecord& record, const char* name, const PooledText& text)
{
    Text(json, name, record.Characters(text), text.length);
}

void AsciiOrNull(JsonWriter& json, const char* name, const char* text)
{
    if (text == nullptr)
        json.Null(name);
    else
        json.Ascii(name, text);
}

void Entries(JsonWriter& json, const RunRecord& record)
{
    json.BeginArray("entries");
    for (size_t i = 0; i < record.files.size(); ++i) {
        const CarriedFileRecord& file = record.files[i];
        json.BeginObject();
        json.Number("index", static_cast<uint32_t>(i));
        Pooled(json, record, "name", file.name);
        json.Number("size", file.size);
        json.Boolean("written", file.written);
        if (file.hashed) {
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
            json.BeginArray("targets");
            for (uint32_t t = 0; t < file.targetCount; ++t) {
                const PooledText& target = record.targets[file.firstTarget + t];
                json.String(nullptr, record.Characters(target), target.length);
            }
            json.EndArray();
        } else {
            json.Null("patchCode");
            json.Null("targets");
        }
        json.EndObject();
    }
    json.EndArray();
}

void Installations(JsonWriter& json, const RunRecord& record)
{
    json.BeginArray("products");
    for (const InstallationRecord& installation : record.installations) {
        json.BeginObject();
        Pooled(json, record, "productCode", installation.code);
        Pooled(json, record, "displayName", installation.displayName);
        if (installation.installed < 0)
            json.Null("installed");
        else
            json.Boolean("installed", installation.installed != 0);
        AsciiOrNull(json, "context", ContextName(installation.context));
        Pooled(json, record, "userSid", installation.userSid);
        AsciiOrNull(json, "platform", PlatformName(installation.platform));
        Transaction(json, installation.transaction);
        json.BeginArray("patches");
        for (uint32_t i = 0; i < installation.patchCount; ++i) {
            const PatchRecord& patch = record.patches[installation.firstPatch + i];
            // Every index names a carried file; an empty name stands in should one not.
            size_t file = static_cast<size_t>(patch.index);
            PooledText name = file < record.files.size() ? record.files[file].name : PooledText();
            json.BeginObject();
            json.Number("index", static_cast<uint32_t>(patch.index));
            Pooled(json, record, "name", name);
            json.Ascii("status", statusNames[static_cast<int>(patch.status)]);
            if (patch.hasResult)
                json.Number("resultCode", patch.resultCode);
            else
                json.Null("resultCode");
            if (patch.patchState >= 0)
                json.Number("patchState", static_cast<uint32_t>(patch.patchState));
            else
                json.Null("patchState");
            Pooled(json, record, "verboseLog", patch.verboseLog);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

void FormatRunResult(JsonWriter& json, const RunRecord& record, const SYSTEMTIME& endTime)
{
    json.BeginObject();
    json.Number("schemaVersion", ResultSchemaVersion);
    json.Ascii("flavour", sizeof(void*) == 8 ? "x64" : "x86");
    json.Ascii("mode", ModeName(appState.runMode));
    Time(json, "startTime", record.startTime);
    Time(json, "endTime", endTime);
    json.Number("exitCode", static_cast<uint32_t>(record.exitCode));
    json.Ascii("outcome", OutcomeName(record.outcome));
    json.Boolean("restartRequired", record.runEnded && record.runResult == ERROR_SUCCESS_REBOOT_REQUIRED);
    json.Boolean("restartRequested", record.restartRequested);
    Transaction(json, record.transaction);
    Text(json, "productName", appState.productName.data(), appState.productName.size());
    Text(json, "productVersion", appState.productVersion.data(), appState.productVersion.size());
    if (appState.runMode == RunMode::Extract)
        json.String("extractFolder", appState.extractFolder.data(), appState.extractFolder.size());
    else
        json.Null("extractFolder");
    Entries(json, record);
    Installations(json, record);
    json.Number("installationsNotPatched", record.InstallationsNotPatched());
    if (record.outcome != RunOutcome::Failed) {
        json.Null("failure");
    } else {
        json.BeginObject("failure");
        AsciiOrNull(json, "step", stepNames[static_cast<int>(record.failedStep)]);
        bool recorded = record.failedStep != RunStep::None;
        json.Number("errorCode", recorded ? record.failureCode : static_cast<uint32_t>(record.runResult));
        Pooled(json, record, "message", record.failureMessage);
        json.EndObject();
    }
    json.EndObject();
}

bool WritesResultFile()
{
    return static_cast<bool>(appState.logFile);
}

void WriteResultFile(const RunRecord& record)
{
    if (!WritesResultFile())
        return;
    SYSTEMTIME endTime;
    GetSystemTime(&endTime);
    JsonWriter json;
    FormatRunResult(json, record, endTime);
    if (!json.Complete()) {
        LogMessage(L"The result file could not be made: out of memory.");
        return;
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
    FileHandle file = OpenLogFolderFile(L"TessarvaneUpdater.json.tmp");
    if (!file) {
        LogFormattedMessage(L"Creating the result file failed with error=%u.", GetLastError());
        return;
    }
    DWORD written = 0;
    BOOL complete = WriteFile(file.get(), json.Data(), static_cast<DWORD>(json.Size()), &written, nullptr) &&
                    written == json.Size();
    complete = file.reset() && complete;
    if (!complete || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        LogFormattedMessage(L"Writing the result file failed with error=%u.", GetLastError());
        DeleteFileW(temporary.c_str());
    }
}
