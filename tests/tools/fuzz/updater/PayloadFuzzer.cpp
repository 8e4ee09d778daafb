// libFuzzer target over the updater's own payload code, built from the updater's sources
// (payload/PayloadHeader.cpp, Extraction.cpp, UpdateFileName.cpp, with platform/Files.cpp and
// run/AppState.cpp) for the host, over the stand-ins of this folder. Each input is a payload:
// the updater file's bytes from the payload offset P on, everything that whoever can edit or
// append to an updater controls. ReadPayloadHeader reads it, and when it finds a header,
// ExtractUpdates unpacks it into an empty folder in memory; every answer, the names and bytes
// written, the log's failure lines and the record's notes are compared with PayloadModel.h's
// own reading of the input. Any difference, sanitizer report or stand-in finding is a crash.
//
// The image in front of P is a fixed stub. On Windows it is the loaded program itself, which
// the loader has checked and the payload cannot change, so PayloadOffsetOfImage reads its
// headers without bounds; fuzzing them would only report reads that cannot happen. One fixed
// image also keeps P the same for every input, as GetPayloadOffset caches it.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "AppState.h"
#include "Extraction.h"
#include "Fault.h"
#include "MemoryFiles.h"
#include "PayloadHeader.h"
#include "PayloadLayout.h"
#include "PayloadModel.h"
#include "RunStandIns.h"
#include "UpdateFileName.h"
#include "WindowsNames.h"

namespace {

const wchar_t outputFolder[] = L"C:\\Updates";
// What the payload code records into: RunStandIns.cpp's notes stand behind it.
RunRecord record;
const uint32_t stubPayloadOffset = 0x400;
std::vector<uint8_t> stubImage;

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    memcpy(&bytes[offset], &value, sizeof value);
}

// A PE image of the build's flavour with two sections, the second ending at P; no certificate
// table.
std::vector<uint8_t> MakeStubImage()
{
    std::vector<uint8_t> image(stubPayloadOffset);
    const uint32_t ntOffset = 0x40;
    image[0] = 'M';
    image[1] = 'Z';
    PutU32(image, payloadlayout::kNtHeadersPointerOffset, ntOffset);
    IMAGE_NT_HEADERS headers = {};
    bool pe32 = sizeof headers == sizeof(IMAGE_NT_HEADERS32);
    headers.Signature = 0x00004550;
    headers.FileHeader.Machine = pe32 ? 0x014C : 0x8664;
    headers.FileHeader.NumberOfSections = 2;
    headers.FileHeader.SizeOfOptionalHeader = sizeof headers.OptionalHeader;
    headers.OptionalHeader.Magic = pe32 ? 0x10B : 0x20B;
    headers.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    memcpy(&image[ntOffset], &headers, sizeof headers);
    size_t first = ntOffset + sizeof headers;
    size_t second = first + payloadlayout::kSectionHeaderSize;
    PutU32(image, first + payloadlayout::kSectionRawSizeOffset, 0x100);
    PutU32(image, first + payloadlayout::kSectionRawPointerOffset, 0x200);
    PutU32(image, second + payloadlayout::kSectionRawSizeOffset, 0x100);
    PutU32(image, second + payloadlayout::kSectionRawPointerOffset, stubPayloadOffset - 0x100);
    return image;
}

// The build's wide characters must be Windows' 2-byte UTF-16 units for the literals, the table
// entries, std::wstring and the C library's functions alike (WideStrings.cpp), or every check
// below would compare the wrong things.
void CheckWideCharacters()
{
    // "Ü✓😀.msp" as the payload stores it: the emoji is a surrogate pair.
    const uint8_t stored[] = {0xDC, 0x00, 0x13, 0x27, 0x3D, 0xD8, 0x00, 0xDE, '.', 0, 'm', 0, 's', 0, 'p', 0, 0, 0};
    const wchar_t literal[] = L"\u00DC\u2713\U0001F600.msp";
    PatchFileInfo entry = {};
    memcpy(entry.fileName, stored, sizeof stored);

    std::wstring name = entry.fileName;
    std::wstring path(300, L'x');
    path += L'\\';
    path += name;
    bool sound =
        sizeof literal == sizeof stored && memcmp(literal, stored, sizeof stored) == 0 && wcslen(entry.fileName) == 8 &&
        wcscmp(entry.fileName, literal) == 0 && wcsncmp(entry.fileName, L"\u00DC\u2713x", 2) == 0 &&
        wcschr(entry.fileName, L'.') == entry.fileName + 4 && name.size() == 8 && name == literal &&
        path.size() == 309 && path.substr(301) == name && path.find(L'.') == 305 && path.compare(301, 8, literal) == 0;
    if (!sound)
        StopOnFault("this build's wide characters are not Windows' UTF-16 units");
}

uint64_t FilePosition(HANDLE file)
{
    LARGE_INTEGER none = {};
    LARGE_INTEGER position = {};
    SetFilePointerEx(file, none, &position, FILE_CURRENT);
    return static_cast<uint64_t>(position.QuadPart);
}

void CheckHeader(int result, const PayloadModel& model, size_t size)
{
    if (result != PayloadHeaderRead && result != PayloadMissing && result != PayloadHeaderUnreadable)
        StopOnFault("ReadPayloadHeader answered other than 0, 1 or 2");
    int expected = size == 0 ? PayloadMissing : (model.headerRead ? PayloadHeaderRead : PayloadHeaderUnreadable);
    if (result != expected)
        StopOnFault("ReadPayloadHeader's answer does not fit the payload");
    if (runNotes.failuresLogged != (result == PayloadHeaderUnreadable ? 1 : 0))
        StopOnFault("ReadPayloadHeader logged other than one line for an unreadable header, none otherwise");
    if (result != PayloadHeaderRead)
        return;
    if (appState.productName != model.productName || appState.productVersion != model.productVersion)
        StopOnFault("the product name or version read is not the payload's");
    if (FilePosition(appState.payloadFile.get()) != stubPayloadOffset + model.countOffset)
        StopOnFault("the header reader left the payload file elsewhere than at the entry count");
}

// Every entry the payload holds goes through the name check, not only those extraction gets
// to: a name it passes must end within its field and be a plain file of the folder. Gives
// which names extraction can create.
std::vector<bool> CheckNames(const PayloadModel& model)
{
    std::vector<bool> usable;
    for (const ModelEntry& entry : model.entries) {
        bool valid = IsValidUpdateFileName(entry.raw.fileName);
        std::wstring name;
        const char* why;
        NameInFolder where = ResolveInFolder(outputFolder, std::wstring(outputFolder) + L"\\" + entry.name, name, why);
        if (valid && !entry.terminated)
            StopOnFault("the name check passes a name that does not end within its field");
        if (valid && where == NameInFolder::Elsewhere)
            StopOnFault((std::string("the name check passes a name that leads out of the folder: ") + why).c_str());
        usable.push_back(valid && where == NameInFolder::File);
    }
    return usable;
}

bool SameBytes(const std::vector<uint8_t>& bytes, const uint8_t* expected, size_t size)
{
    return bytes.size() == size && (size == 0 || memcmp(bytes.data(), expected, size) == 0);
}

void CheckExtraction(const PayloadModel& model, const std::vector<bool>& usable, const uint8_t* payload, size_t size)
{
    size_t written = ExpectedFilesWritten(model, size, usable);
    bool tableRead = model.countRead && model.tableFits;
    bool succeeds = tableRead && written == model.count;

    // A failed extraction leaves the caller's table alone.
    UpdateTable table(1);
    table[0].fileSize = 0xFEEDFACE;
    int failuresBefore = runNotes.failuresLogged;
    int result = ExtractUpdates(outputFolder, &table, record, nullptr);
    if (result != 0 && result != 1)
        StopOnFault("ExtractUpdates answered other than 0 or 1");
    if ((result == 0) != succeeds)
        StopOnFault("ExtractUpdates' answer does not fit the payload");
    if (runNotes.failuresLogged - failuresBefore != result)
        StopOnFault("ExtractUpdates logged other than one line for a failure, none for success");
    if (succeeds) {
        if (table.size() != model.count)
            StopOnFault("the table handed over has not every entry");
        for (size_t i = 0; i < table.size(); ++i) {
            if (memcmp(&table[i], &model.entries[i].raw, sizeof(PatchFileInfo)) != 0)
                StopOnFault("an entry of the table handed over is not as the payload holds it");
        }
    } else if (table.size() != 1 || table[0].fileSize != 0xFEEDFACE) {
        StopOnFault("a failed extraction changed the caller's table");
    }

    size_t carried = tableRead ? model.count : 0;
    if (runNotes.carriedFiles.size() != carried)
        StopOnFault("the record was not told of every entry of a table read whole, or of some of another");
    for (size_t i = 0; i < carried; ++i) {
        if (runNotes.carriedFiles[i].name != model.entries[i].name ||
            runNotes.carriedFiles[i].size != model.entries[i].raw.fileSize)
            StopOnFault("the record was told another name or size than the entry's");
    }
    if (runNotes.filesWritten != written)
        StopOnFault("the record counts other files written than the folder should hold");

    // Each file under a carried name holds exactly the carried bytes; nothing else stays.
    std::vector<const MemoryFile*> files = FolderFiles();
    if (files.size() != written)
        StopOnFault("the folder holds other files than the carried ones written whole");
    for (size_t i = 0; i < written; ++i) {
        const ModelEntry& entry = model.entries[i];
        const uint8_t* bytes = payload + entry.dataOffset;
        if (files[i]->name != entry.name)
            StopOnFault("a file was written under another name than its entry's");
        if (!SameBytes(files[i]->data, bytes, entry.raw.fileSize))
            StopOnFault("a file does not hold exactly the bytes carried for it");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CheckWideCharacters();
    stubImage = MakeStubImage();
    SetModuleImage(stubImage.data());
    if (PayloadOffsetOfImage(stubImage.data()) != stubPayloadOffset ||
        CertificateTableOffsetOfImage(stubImage.data()) != 0)
        StopOnFault("the stub image's payload offset is not the one it was made with");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetMemoryFiles(outputFolder, stubImage, data, size);
    ResetRunNotes();
    appState.payloadFile.reset(OpenPayloadFile());
    appState.productName = L"-";
    appState.productVersion = L"-";

    PayloadModel model = ReadPayloadModel(data, size);
    std::vector<bool> usable = CheckNames(model);
    int header = ReadPayloadHeader(record);
    CheckHeader(header, model, size);
    if (header == PayloadHeaderRead)
        CheckExtraction(model, usable, data, size);

    appState.payloadFile.reset();
    if (OpenHandleCount() != 0)
        StopOnFault("a file handle was left open");
    return 0;
}
