// The run's record. Every function only notes what it is told; none of them can fail the run.
// Installations are named by their place in the record, which the run got from it.
#include "RunRecord.h"

#include <strsafe.h>

#include <cstdarg>

#include "Log.h"

bool RunSucceeded(int result)
{
    return result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED;
}

int RunExitCode(RunMode mode, int result)
{
    return mode == RunMode::Unattended ? result : 0;
}

RunRecord::RunRecord()
{
    GetSystemTime(&startTime);
}

PooledText RunRecord::Pool(const wchar_t* text, size_t length)
{
    PooledText pooled;
    pooled.offset = static_cast<uint32_t>(pool_.size());
    pooled.length = static_cast<uint32_t>(length);
    pool_.append(text, length);
    return pooled;
}

std::wstring RunRecord::Text(const PooledText& text) const
{
    return pool_.substr(text.offset, text.length);
}

void RunRecord::RecordCarriedFile(const wchar_t* name, size_t nameCapacity, uint32_t size)
{
    // The name field need not be terminated; it is never read beyond.
    size_t length = 0;
    while (length < nameCapacity && name[length] != L'\0')
        ++length;
    CarriedFileRecord& file = files.Append();
    file.name = Pool(name, length);
    file.size = size;
}

void RunRecord::RecordFileWritten(const uint8_t (*sha256)[32])
{
    if (filesWritten_ >= files.size())
        return;
    CarriedFileRecord& file = files[filesWritten_++];
    file.written = true;
    if (sha256 != nullptr) {
        file.hashed = true;
        for (size_t i = 0; i < sizeof file.sha256; ++i)
            file.sha256[i] = (*sha256)[i];
    }
}

void RunRecord::RecordPatchTargets(int32_t index, const wchar_t* patchCode, const std::vector<std::wstring>& codes)
{
    if (index < 0 || static_cast<size_t>(index) >= files.size())
        return;
    CarriedFileRecord& file = files[static_cast<size_t>(index)];
    file.summaryRead = true;
    file.firstTarget = static_cast<uint32_t>(targets.size());
    file.targetCount = static_cast<uint32_t>(codes.size());
    for (const std::wstring& code : codes) {
        PooledText pooled = Pool(code.data(), code.size());
        targets.Append() = pooled;
    }
    StringCchCopyW(file.patchCode, ARRAYSIZE(file.patchCode), patchCode);
}

std::wstring RunRecord::PatchCode(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= files.size())
        return std::wstring();
    return files[static_cast<size_t>(index)].patchCode;
}

void RunRecord::RecordPatchRestartAction(int32_t index, const std::wstring& action)
{
    if (index >= 0 && static_cast<size_t>(index) < files.size()) {
        PooledText pooled = Pool(action.data(), action.size());
        files[static_cast<size_t>(index)].restartAction = pooled;
    }
}

std::wstring RunRecord::PatchRestartAction(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= files.size())
        return std::wstring();
    return Text(files[static_cast<size_t>(index)].restartAction);
}

uint32_t RunRecord::RecordProduct(const std::wstring& code, const std::vector<int32_t>& indexes)
{
    uint32_t place = static_cast<uint32_t>(installations.size());
    PooledText pooled = Pool(code.data(), code.size());
    InstallationRecord& product = installations.Append();
    product.code = pooled;
    product.installed = -1;
    product.firstPatch = static_cast<uint32_t>(patches.size());
    product.patchCount = static_cast<uint32_t>(indexes.size());
    for (int32_t index : indexes) {
        PatchRecord& patch = patches.Append();
        patch.index = index;
        patch.patchState = -1;
    }
    return place;
}

void RunRecord::RecordProductNotInstalled(uint32_t product)
{
    InstallationRecord& record = installations[product];
    record.installed = 0;
    // Windows Installer has nothing to apply these patches to.
    for (uint32_t i = 0; i < record.patchCount; ++i)
        patches[record.firstPatch + i].status = PatchStatus::NotApplicable;
}

// The record for the product's next installation: the product's own record for the first, a
// copy with patches of its own, after the others, for each further one.
uint32_t RunRecord::InstallationFor(uint32_t product, DWORD context, const std::wstring& userSid)
{
    uint32_t place = product;
    if (installations[product].installed == 1) {
        // Copied before appending: the array may move.
        InstallationRecord first = installations[product];
        place = static_cast<uint32_t>(installations.size());
        InstallationRecord& added = installations.Append();
        added = first;
        added.firstPatch = static_cast<uint32_t>(patches.size());
        added.platform = PackagePlatform::Unknown;
        added.otherAccount = false;
        added.otherContext = false;
        added.transaction = TransactionUse::None;
        for (uint32_t i = 0; i < first.patchCount; ++i) {
            int32_t index = patches[first.firstPatch + i].index;
            PatchRecord& patch = patches.Append();
            patch.index = index;
            patch.patchState = -1;
        }
    }
    PooledText sid = Pool(userSid.data(), userSid.size());
    InstallationRecord& record = installations[place];
    record.installed = 1;
    record.context = context;
    record.userSid = sid;
    return place;
}

uint32_t RunRecord::RecordInstallation(uint32_t product, DWORD context, const std::wstring& userSid,
                                       PackagePlatform platform)
{
    uint32_t installation = InstallationFor(product, context, userSid);
    installations[installation].platform = platform;
    return installation;
}

// An installation the run leaves alone: every patch of it gets status.
InstallationRecord& RunRecord::NotPatched(uint32_t product, DWORD context, const std::wstring& userSid,
                                          PatchStatus status)
{
    InstallationRecord& record = installations[InstallationFor(product, context, userSid)];
    for (uint32_t i = 0; i < record.patchCount; ++i)
        patches[record.firstPatch + i].status = status;
    return record;
}

void RunRecord::RecordOtherAccountInstallation(uint32_t product, DWORD context, const std::wstring& userSid)
{
    NotPatched(product, context, userSid, PatchStatus::OtherAccount).otherAccount = true;
}

void RunRecord::RecordOtherContextInstallation(uint32_t product, DWORD context, const std::wstring& userSid)
{
    NotPatched(product, context, userSid, PatchStatus::OtherContext).otherContext = true;
}

uint32_t RunRecord::InstallationsNotPatched() const
{
    uint32_t count = 0;
    for (const InstallationRecord& installation : installations)
        count += installation.otherAccount || installation.otherContext ? 1 : 0;
    return count;
}

void RunRecord::RecordInstallationName(uint32_t installation, const std::wstring& displayName)
{
    // The run names a product by its code when its name cannot be read.
    if (!displayName.empty() && displayName != Text(installations[installation].code)) {
        PooledText pooled = Pool(displayName.data(), displayName.size());
        installations[installation].displayName = pooled;
    }
}

std::wstring RunRecord::InstallationName(uint32_t installation) const
{
    const InstallationRecord& record = installations[installation];
    return Text(record.displayName.length != 0 ? record.displayName : record.code);
}

PatchRecord& RunRecord::InstallationPatch(uint32_t installation, size_t position)
{
    return patches[installations[installation].firstPatch + position];
}

void RunRecord::RecordPatchAnswer(uint32_t installation, size_t position, PatchStatus status, uint32_t resultCode)
{
    PatchRecord& patch = InstallationPatch(installation, position);
    patch.status = status;
    patch.hasResult = true;
    patch.resultCode = resultCode;
}

void RunRecord::RecordPatchState(uint32_t installation, size_t position, PatchStatus status, int32_t patchState)
{
    PatchRecord& patch = InstallationPatch(installation, position);
    patch.status = status;
    patch.patchState = patchState;
}

void RunRecord::RecordVerboseLog(uint32_t installation, size_t position, const std::wstring& name)
{
    PooledText pooled = Pool(name.data(), name.size());
    InstallationPatch(installation, position).verboseLog = pooled;
}

void RunRecord::RecordRunResult(int result)
{
    runEnded = true;
    runResult = result;
}

void RunRecord::RecordExitCode(int code)
{
    exitCode = code;
    // Never a success that a step, the run's result or the exit code contradicts.
    if (failedStep != RunStep::None || !RunSucceeded(code) || (runStarted && !runEnded) ||
        (runEnded && !RunSucceeded(runResult))) {
        outcome = RunOutcome::Failed;
        return;
    }
    if (appState.runMode == RunMode::Extract) {
        outcome = RunOutcome::Succeeded;
        return;
    }
    if (!runStarted) {
        outcome = RunOutcome::Cancelled;
        return;
    }
    outcome = RunOutcome::NothingToDo;
    for (const PatchRecord& patch : patches) {
        if (patch.status == PatchStatus::Applied)
            outcome = RunOutcome::Succeeded;
    }
}

void RunRecord::RecordFailure(RunStep step, uint32_t errorCode, const wchar_t* message)
{
    if (failedStep != RunStep::None)
        return;
    failedStep = step;
    failureCode = errorCode;
    if (message != nullptr)
        failureMessage = Pool(message, wcslen(message));
}

void RunRecord::LogFailure(RunStep step, uint32_t errorCode, const wchar_t* format, ...)
{
    wchar_t line[512];
    va_list values;
    va_start(values, format);
    LogFormattedMessageV(line, format, values);
    va_end(values);
    RecordFailure(step, errorCode, line);
}
