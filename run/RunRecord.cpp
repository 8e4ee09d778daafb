// The run's record. Every function only notes what it is told; none of them can fail the run.
// Installations are named by their place in the record, which the run got from it.
#include "RunRecord.h"

#include <strsafe.h>

#include <cstdarg>

#include "FatalExit.h"
#include "Log.h"

RunRecord runRecord;

RunRecord::RunRecord()
{
    GetSystemTime(&startTime);
}

void ResetRunRecord()
{
    runRecord.pool.clear();
    runRecord.files.Clear();
    runRecord.filesWritten = 0;
    runRecord.hash.Reset();
    runRecord.hashing = true;
    runRecord.products.Clear();
    runRecord.patches.Clear();
    runRecord.runStarted = false;
    runRecord.runEnded = false;
    runRecord.restartRequested = false;
    runRecord.transaction = TransactionUse::None;
    runRecord.runResult = 1;
    runRecord.failedStep = RunStep::None;
    runRecord.failureCode = 0;
    runRecord.failureMessage = PooledText();
}

void* GrowRecordArray(void* data, size_t& capacity, size_t recordSize)
{
    size_t grown = capacity == 0 ? 8 : capacity * 2;
    void* block = data == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown * recordSize)
                                  : HeapReAlloc(GetProcessHeap(), 0, data, grown * recordSize);
    // As for any other allocation of the program: a record that could not be kept would let
    // the result file tell less than the run did.
    if (block == nullptr)
        ExitForFatalFailure(L"Out of memory.", ERROR_NOT_ENOUGH_MEMORY);
    capacity = grown;
    return block;
}

static PooledText Pool(const wchar_t* text, size_t length)
{
    PooledText pooled;
    pooled.offset = static_cast<uint32_t>(runRecord.pool.size());
    pooled.length = static_cast<uint32_t>(length);
    runRecord.pool.append(text, length);
    return pooled;
}

std::wstring RecordedText(const PooledText& text)
{
    return runRecord.pool.substr(text.offset, text.length);
}

bool RunResultSucceeded(int result)
{
    return result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED;
}

void RecordCarriedFile(const wchar_t* name, size_t nameCapacity, uint32_t size)
{
    // The name field need not be terminated; it is never read beyond.
    size_t length = 0;
    while (length < nameCapacity && name[length] != L'\0')
        ++length;
    CarriedFileRecord& file = runRecord.files.Append();
    file.name = Pool(name, length);
    file.size = size;
}

uint8_t* FileDataBuffer(uint8_t* own)
{
    return runRecord.hashing ? runRecord.hash.Buffer(own) : own;
}

void RecordFileData(const void* data, size_t size)
{
    if (runRecord.hashing)
        runRecord.hash.Add(data, size);
}

void RecordFileWritten()
{
    if (runRecord.filesWritten >= runRecord.files.size())
        return;
    CarriedFileRecord& file = runRecord.files[runRecord.filesWritten++];
    if (runRecord.hashing)
        runRecord.hash.Finish(file.sha256);
    file.written = true;
}

void RecordPatchTargets(int32_t index, const wchar_t* patchCode, const wchar_t* targets)
{
    if (index < 0 || static_cast<size_t>(index) >= runRecord.files.size())
        return;
    CarriedFileRecord& file = runRecord.files[static_cast<size_t>(index)];
    file.summaryRead = true;
    file.targets = Pool(targets, wcslen(targets));
    StringCchCopyW(file.patchCode, ARRAYSIZE(file.patchCode), patchCode);
}

std::wstring RecordedPatchCode(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= runRecord.files.size())
        return std::wstring();
    return runRecord.files[static_cast<size_t>(index)].patchCode;
}

void RecordPatchRestartAction(int32_t index, const std::wstring& action)
{
    if (index >= 0 && static_cast<size_t>(index) < runRecord.files.size())
        runRecord.files[static_cast<size_t>(index)].restartAction = Pool(action.data(), action.size());
}

std::wstring RecordedPatchRestartAction(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= runRecord.files.size())
        return std::wstring();
    return RecordedText(runRecord.files[static_cast<size_t>(index)].restartAction);
}

uint32_t RecordProduct(const std::wstring& code, const std::vector<int32_t>& indexes)
{
    uint32_t place = static_cast<uint32_t>(runRecord.products.size());
    ProductRecord& product = runRecord.products.Append();
    product.code = Pool(code.data(), code.size());
    product.installed = -1;
    product.firstPatch = static_cast<uint32_t>(runRecord.patches.size());
    product.patchCount = static_cast<uint32_t>(indexes.size());
    for (int32_t index : indexes) {
        PatchRecord& patch = runRecord.patches.Append();
        patch.index = index;
        patch.patchState = -1;
    }
    return place;
}

void RecordProductNotInstalled(uint32_t product)
{
    ProductRecord& record = runRecord.products[product];
    record.installed = 0;
    // Windows Installer has nothing to apply these patches to.
    for (uint32_t i = 0; i < record.patchCount; ++i)
        runRecord.patches[record.firstPatch + i].status = PatchStatus::NotApplicable;
}

// The record for the product's next installation: the product's own record for the first, a
// copy with patches of its own, after the others, for each further one.
static uint32_t InstallationRecord(uint32_t product, DWORD context, const std::wstring& userSid)
{
    uint32_t place = product;
    if (runRecord.products[product].installed == 1) {
        // Copied before appending: the array may move.
        ProductRecord first = runRecord.products[product];
        place = static_cast<uint32_t>(runRecord.products.size());
        ProductRecord& added = runRecord.products.Append();
        added = first;
        added.firstPatch = static_cast<uint32_t>(runRecord.patches.size());
        added.platform = PackagePlatform::Unknown;
        added.otherAccount = false;
        added.otherContext = false;
        added.transaction = TransactionUse::None;
        for (uint32_t i = 0; i < first.patchCount; ++i) {
            int32_t index = runRecord.patches[first.firstPatch + i].index;
            runRecord.patches.Append() = PatchRecord{index, PatchStatus::NotAttempted, false, 0, -1};
        }
    }
    ProductRecord& record = runRecord.products[place];
    record.installed = 1;
    record.context = context;
    record.userSid = Pool(userSid.data(), userSid.size());
    return place;
}

uint32_t RecordInstallation(uint32_t product, DWORD context, const std::wstring& userSid, PackagePlatform platform)
{
    uint32_t installation = InstallationRecord(product, context, userSid);
    runRecord.products[installation].platform = platform;
    return installation;
}

// An installation the run leaves alone: every patch of it gets status.
static ProductRecord& RecordInstallationNotPatched(uint32_t product, DWORD context, const std::wstring& userSid,
                                                   PatchStatus status)
{
    ProductRecord& record = runRecord.products[InstallationRecord(product, context, userSid)];
    for (uint32_t i = 0; i < record.patchCount; ++i)
        runRecord.patches[record.firstPatch + i].status = status;
    return record;
}

void RecordOtherAccountInstallation(uint32_t product, DWORD context, const std::wstring& userSid)
{
    RecordInstallationNotPatched(product, context, userSid, PatchStatus::OtherAccount).otherAccount = true;
}

void RecordOtherContextInstallation(uint32_t product, DWORD context, const std::wstring& userSid)
{
    RecordInstallationNotPatched(product, context, userSid, PatchStatus::OtherContext).otherContext = true;
}

uint32_t InstallationsNotPatched()
{
    uint32_t count = 0;
    for (const ProductRecord& product : runRecord.products)
        count += product.otherAccount || product.otherContext ? 1 : 0;
    return count;
}

void RecordInstallationName(uint32_t installation, const std::wstring& displayName)
{
    // The run names a product by its code when its name cannot be read.
    ProductRecord& record = runRecord.products[installation];
    if (!displayName.empty() && displayName != RecordedText(record.code))
        record.displayName = Pool(displayName.data(), displayName.size());
}

PatchRecord& InstallationPatch(uint32_t installation, size_t position)
{
    return runRecord.patches[runRecord.products[installation].firstPatch + position];
}

void RecordPatchAnswer(uint32_t installation, size_t position, PatchStatus status, uint32_t resultCode)
{
    PatchRecord& patch = InstallationPatch(installation, position);
    patch.status = status;
    patch.hasResult = true;
    patch.resultCode = resultCode;
}

void RecordPatchState(uint32_t installation, size_t position, PatchStatus status, int32_t patchState)
{
    PatchRecord& patch = InstallationPatch(installation, position);
    patch.status = status;
    patch.patchState = patchState;
}

void RecordRunStarted()
{
    runRecord.runStarted = true;
}

void RecordRunResult(int result)
{
    runRecord.runEnded = true;
    runRecord.runResult = result;
}

void RecordRestartRequested()
{
    runRecord.restartRequested = true;
}

void RecordFailure(RunStep step, uint32_t errorCode, const wchar_t* message)
{
    if (runRecord.failedStep != RunStep::None)
        return;
    runRecord.failedStep = step;
    runRecord.failureCode = errorCode;
    if (message != nullptr)
        runRecord.failureMessage = Pool(message, wcslen(message));
}

void LogFailure(RunStep step, uint32_t errorCode, const wchar_t* format, ...)
{
    wchar_t line[512];
    va_list values;
    va_start(values, format);
    LogFormattedMessageV(line, format, values);
    va_end(values);
    RecordFailure(step, errorCode, line);
}
