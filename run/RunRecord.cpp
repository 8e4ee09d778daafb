// The run's record. Every function only notes what it is told; none of them can fail the
// run, and a product that is not found (a code the record was not told of) is passed over.
#include "RunRecord.h"

#include <strsafe.h>

#include <cstdarg>

#include "Log.h"

RunRecord runRecord;

RunRecord::RunRecord()
{
    GetSystemTime(&startTime);
}

void* GrowRecordArray(void* data, size_t& capacity, size_t recordSize)
{
    size_t grown = capacity == 0 ? 8 : capacity * 2;
    void* block = data == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown * recordSize)
                                  : HeapReAlloc(GetProcessHeap(), 0, data, grown * recordSize);
    if (block != nullptr)
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

void RecordUpdateTable(const UpdateTable& table)
{
    runRecord.files.Clear();
    for (const PatchFileInfo& entry : table) {
        CarriedFileRecord* file = runRecord.files.Append();
        if (file == nullptr)
            return;
        // The name field need not be terminated; it is never read beyond.
        size_t length = 0;
        while (length < ARRAYSIZE(entry.fileName) && entry.fileName[length] != L'\0')
            ++length;
        file->name = Pool(entry.fileName, length);
        file->size = entry.fileSize;
    }
    runRecord.filesWritten = 0;
    runRecord.hash.Reset();
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

static bool PooledEquals(const PooledText& text, const std::wstring& value)
{
    return text.length == value.size() && runRecord.pool.compare(text.offset, text.length, value) == 0;
}

// The record of the code's installation in that context for that account, or with context 0
// the first record of the code.
static ProductRecord* FindProduct(const std::wstring& code, DWORD context, const std::wstring& userSid)
{
    for (ProductRecord& product : runRecord.products) {
        if (!PooledEquals(product.code, code))
            continue;
        if (context == 0 || (product.context == context && PooledEquals(product.userSid, userSid)))
            return &product;
    }
    return nullptr;
}

static ProductRecord* FindProduct(const std::wstring& code)
{
    return FindProduct(code, 0, std::wstring());
}

void RecordProduct(const std::wstring& code, const std::vector<int32_t>& indexes)
{
    ProductRecord* product = runRecord.products.Append();
    if (product == nullptr)
        return;
    product->code = Pool(code.data(), code.size());
    product->installed = -1;
    product->firstPatch = static_cast<uint32_t>(runRecord.patches.size());
    for (int32_t index : indexes) {
        PatchRecord* patch = runRecord.patches.Append();
        if (patch == nullptr)
            return;
        patch->index = index;
        patch->patchState = -1;
        product->patchCount++;
    }
}

void RecordProductNotInstalled(const std::wstring& code)
{
    ProductRecord* product = FindProduct(code);
    if (product == nullptr)
        return;
    product->installed = 0;
    // Windows Installer has nothing to apply these patches to.
    for (uint32_t i = 0; i < product->patchCount; ++i)
        runRecord.patches[product->firstPatch + i].status = PatchStatus::NotApplicable;
}

// The record for the code's next installation: the product's own record for the first, a
// copy with patches of its own, after the others, for each further one. Null when out of memory.
static ProductRecord* InstallationRecord(const std::wstring& code, DWORD context, const std::wstring& userSid)
{
    ProductRecord* product = FindProduct(code);
    if (product == nullptr)
        return nullptr;
    if (product->installed == 1) {
        ProductRecord* added = runRecord.products.Append();
        if (added == nullptr)
            return nullptr;
        product = FindProduct(code);  // the array may have moved
        ProductRecord first = *product;
        *added = first;
        added->firstPatch = static_cast<uint32_t>(runRecord.patches.size());
        added->patchCount = 0;
        added->platform = 0;
        added->otherAccount = false;
        for (uint32_t i = 0; i < first.patchCount; ++i) {
            PatchRecord* patch = runRecord.patches.Append();
            if (patch == nullptr)
                return nullptr;
            *patch = PatchRecord{runRecord.patches[first.firstPatch + i].index, PatchStatus::NotAttempted, false, 0, -1};
            added->patchCount++;
        }
        product = added;
    }
    product->installed = 1;
    product->context = context;
    product->userSid = Pool(userSid.data(), userSid.size());
    return product;
}

void RecordInstallation(const std::wstring& code, DWORD context, const std::wstring& userSid, bool x64)
{
    ProductRecord* product = InstallationRecord(code, context, userSid);
    if (product != nullptr)
        product->platform = x64 ? 64 : 32;
}

void RecordOtherAccountInstallation(const std::wstring& code, DWORD context, const std::wstring& userSid)
{
    ProductRecord* product = InstallationRecord(code, context, userSid);
    if (product == nullptr)
        return;
    product->otherAccount = true;
    for (uint32_t i = 0; i < product->patchCount; ++i)
        runRecord.patches[product->firstPatch + i].status = PatchStatus::OtherAccount;
}

void RecordInstallationName(const std::wstring& code, DWORD context, const std::wstring& userSid,
                            const std::wstring& displayName)
{
    // The run names a product by its code when its name cannot be read.
    ProductRecord* product = FindProduct(code, context, userSid);
    if (product != nullptr && !displayName.empty() && displayName != code)
        product->displayName = Pool(displayName.data(), displayName.size());
}

void RecordPatchStatus(const std::wstring& code, DWORD context, const std::wstring& userSid, size_t position,
                       PatchStatus status, bool hasResult, uint32_t resultCode, int32_t patchState)
{
    ProductRecord* product = FindProduct(code, context, userSid);
    if (product == nullptr || position >= product->patchCount)
        return;
    PatchRecord& patch = runRecord.patches[product->firstPatch + position];
    patch.status = status;
    patch.hasResult = hasResult;
    patch.resultCode = resultCode;
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
    StringCchVPrintfW(line, ARRAYSIZE(line), format, values);
    va_end(values);
    LogMessage(line);
    RecordFailure(step, errorCode, line);
}
