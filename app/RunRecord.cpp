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

void RecordFileData(const void* data, size_t size)
{
    runRecord.hash.Add(data, size);
}

void RecordFileWritten()
{
    if (runRecord.filesWritten >= runRecord.files.size())
        return;
    CarriedFileRecord& file = runRecord.files[runRecord.filesWritten++];
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

static ProductRecord* FindProduct(const std::wstring& code)
{
    for (ProductRecord& product : runRecord.products) {
        if (PooledEquals(product.code, code))
            return &product;
    }
    return nullptr;
}

static PatchRecord* FindPatch(const std::wstring& code, size_t position)
{
    ProductRecord* product = FindProduct(code);
    if (product == nullptr || position >= product->patchCount)
        return nullptr;
    return &runRecord.patches[product->firstPatch + position];
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
        product->patchCount++;
    }
}

void RecordProductInstalled(const std::wstring& code, bool installed)
{
    ProductRecord* product = FindProduct(code);
    if (product == nullptr)
        return;
    product->installed = installed ? 1 : 0;
    // Windows Installer has nothing to apply these patches to.
    for (uint32_t i = 0; !installed && i < product->patchCount; ++i)
        runRecord.patches[product->firstPatch + i].status = PatchStatus::NotApplicable;
}

void RecordProductPlatform(const std::wstring& code, bool x64, ProductContext context)
{
    ProductRecord* product = FindProduct(code);
    if (product == nullptr)
        return;
    product->platform = x64 ? 64 : 32;
    product->context = context;
}

void RecordProductName(const std::wstring& code, const std::wstring& displayName)
{
    // The run names a product by its code when its name cannot be read.
    ProductRecord* product = FindProduct(code);
    if (product != nullptr && displayName != code)
        product->displayName = Pool(displayName.data(), displayName.size());
}

void RecordSequence(const std::wstring& code, const MSIPATCHSEQUENCEINFOW* entries, size_t count)
{
    for (size_t j = 0; j < count; ++j) {
        PatchRecord* patch = FindPatch(code, j);
        if (patch == nullptr || (entries[j].uStatus == 0 && static_cast<int32_t>(entries[j].dwOrder) >= 0))
            continue;
        patch->status = PatchStatus::NotApplicable;
        patch->hasResult = true;
        patch->resultCode = entries[j].uStatus;
    }
}

void RecordPatchResult(const std::wstring& code, size_t position, UINT result)
{
    PatchRecord* patch = FindPatch(code, position);
    if (patch == nullptr)
        return;
    bool applied = result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED;
    patch->status = applied ? PatchStatus::Applied : PatchStatus::Failed;
    patch->hasResult = true;
    patch->resultCode = result;
}

void RecordPatchAlreadyApplied(const std::wstring& code, size_t position)
{
    PatchRecord* patch = FindPatch(code, position);
    if (patch != nullptr)
        patch->status = PatchStatus::AlreadyApplied;
}

void RecordRollback()
{
    for (PatchRecord& patch : runRecord.patches) {
        if (patch.status == PatchStatus::Applied)
            patch.status = PatchStatus::RolledBack;
    }
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
