// A patch package is a structured-storage file whose substorages are its transforms; Windows
// reads it with its own structured storage (ole32), and so does this. Each transform's sequence
// tables and its string pool are read as TransformFormat.h lays them out, the description the
// packer reads the same rows by, and only those small streams: never the cabinet. Every
// interface is released on every path.
#include "PatchRestartActions.h"

#include <windows.h>

#include <objbase.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "TransformFormat.h"
#include "UniqueHandle.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A stream of the storage, whole. S_OK, STG_E_FILENOTFOUND where the storage has no such stream,
// or the error that kept it from being read (a stream too large to be a transform's included).
HRESULT ReadStream(IStorage* storage, const char* name, Bytes& out)
{
    wchar_t stored[64];
    if (compound::EncodeStreamName(name, true, stored, ARRAYSIZE(stored)) == 0)
        return E_INVALIDARG;
    ComPointer<IStream> stream;
    HRESULT result = storage->OpenStream(stored, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put());
    if (FAILED(result))
        return result;
    STATSTG status = {};
    result = stream.get()->Stat(&status, STATFLAG_NONAME);
    if (FAILED(result))
        return result;
    if (status.cbSize.QuadPart > compound::kMaxTransformStreamSize)
        return STG_E_DOCFILECORRUPT;
    out.assign(static_cast<size_t>(status.cbSize.QuadPart), 0);
    ULONG read = 0;
    result = out.empty() ? S_OK : stream.get()->Read(out.data(), static_cast<ULONG>(out.size()), &read);
    if (FAILED(result))
        return result;
    return read == out.size() ? S_OK : STG_E_READFAULT;
}

// Where each string of the pool begins in _StringData, and its length: the string of id n is
// entry n - 1.
struct PooledString {
    size_t offset;
    uint32_t length;
};

bool ReadStringPool(const Bytes& pool, const Bytes& data, std::vector<PooledString>& strings, size_t& referenceWidth)
{
    if (pool.size() < compound::kStringPoolHeaderSize || pool.size() % 4 != 0)
        return false;
    referenceWidth = compound::StringReferenceWidth(pool.data());
    size_t offset = 0;
    for (size_t at = compound::kStringPoolHeaderSize; at < pool.size();) {
        uint32_t length = 0;
        if (!compound::NextPoolString(pool.data(), pool.size(), at, length) || length > data.size() - offset)
            return false;
        strings.push_back(PooledString{offset, length});
        offset += length;
    }
    return true;
}

// The first restart action that the rows of one sequence table insert, replace or change
// (deleted rows do not count), as its name in data; false when the rows do not fit the table's
// layout.
bool ScanSequenceTable(const Bytes& rows, const Bytes& data, const std::vector<PooledString>& strings,
                       size_t referenceWidth, const PooledString*& action)
{
    for (size_t at = 0; at < rows.size();) {
        if (rows.size() - at < 2)
            return false;
        uint32_t mask = compound::LittleEndian(rows.data() + at, 2);
        size_t size = compound::SequenceRowSize(mask, referenceWidth);
        if (size == 0 || rows.size() - at < size)
            return false;
        uint32_t id = compound::LittleEndian(rows.data() + at + 2, referenceWidth);
        if (id > strings.size())
            return false;
        if (mask != 0 && id != 0 && action == nullptr) {
            const PooledString& name = strings[id - 1];
            if (compound::IsRestartAction(reinterpret_cast<const char*>(data.data()) + name.offset, name.length))
                action = &name;
        }
        at += size;
    }
    return true;
}

// The transform's first restart action, described as the packer describes it, into action;
// false with reason when the transform cannot be read.
bool ScanTransform(IStorage* patch, const wchar_t* name, std::wstring& action, std::wstring& reason)
{
    ComPointer<IStorage> transform;
    if (FAILED(patch->OpenStorage(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, transform.put()))) {
        reason = L"its transform " + std::wstring(name) + L" cannot be opened";
        return false;
    }
    Bytes pool;
    Bytes data;
    std::vector<PooledString> strings;
    size_t referenceWidth = 2;
    bool poolRead = false;
    for (const char* table : compound::kSequenceTables) {
        Bytes rows;
        HRESULT result = ReadStream(transform.get(), table, rows);
        if (result == STG_E_FILENOTFOUND)
            continue;
        if (FAILED(result) || (!poolRead && (ReadStream(transform.get(), "_StringPool", pool) != S_OK ||
                                             ReadStream(transform.get(), "_StringData", data) != S_OK ||
                                             !ReadStringPool(pool, data, strings, referenceWidth)))) {
            reason = L"its transform " + std::wstring(name) + L" has a sequence table it cannot be read with";
            return false;
        }
        poolRead = true;
        std::wstring tableName(table, table + strlen(table));
        const PooledString* found = nullptr;
        if (!ScanSequenceTable(rows, data, strings, referenceWidth, found)) {
            reason = L"its transform " + std::wstring(name) + L" has rows that do not fit " + tableName;
            return false;
        }
        if (found != nullptr) {
            const uint8_t* text = data.data() + found->offset;
            action = std::wstring(text, text + found->length) + L" in " + tableName + L" (transform " + name + L")";
            return true;
        }
    }
    return true;
}

}  // namespace

bool FindPatchRestartAction(const std::wstring& path, std::wstring& action, std::wstring& reason)
{
    action.clear();
    ComPointer<IStorage> patch;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, patch.put()))) {
        reason = L"it cannot be opened as a patch package";
        return false;
    }
    ComPointer<IEnumSTATSTG> elements;
    if (FAILED(patch.get()->EnumElements(0, nullptr, 0, elements.put()))) {
        reason = L"its transforms cannot be listed";
        return false;
    }
    STATSTG element = {};
    while (action.empty() && elements.get()->Next(1, &element, nullptr) == S_OK) {
        bool read = element.type != STGTY_STORAGE || ScanTransform(patch.get(), element.pwcsName, action, reason);
        CoTaskMemFree(element.pwcsName);
        if (!read)
            return false;
    }
    return true;
}
