// The built updater read back as a file: what the loader finds in it before any of its code
// runs. Its static imports are only kernel32 and the C runtime (every other system DLL is
// delay-loaded, bound at first call from the system folder, as the Delay Import directory
// says), and the Load Configuration directory points at a structure whose
// DependentLoadFlags limit what the loader resolves to the system folder. The image stays
// stripped and its checksum consistent. The marks that Windows' loader acts on, and the base
// relocations that let it move the image, are checked as the PE format defines them: Wine
// loads the image at its preferred base and ignores most marks, Windows' address-space
// randomisation never loads it there.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace {

// A PE image held in memory with what the checks need of its headers; PE32 or PE32+.
class Image {
public:
    explicit Image(const std::wstring& path) { ok_ = ReadAllBytes(path, bytes_) && Parse(); }

    bool ok() const { return ok_; }
    bool pe32Plus() const { return magic_ == IMAGE_NT_OPTIONAL_HDR64_MAGIC; }
    const Bytes& bytes() const { return bytes_; }

    IMAGE_DATA_DIRECTORY Directory(int index) const
    {
        IMAGE_DATA_DIRECTORY directory = {};
        Read(directoriesAt_ + index * sizeof(IMAGE_DATA_DIRECTORY), directory);
        return directory;
    }

    // File offset of an RVA whose `length` bytes lie in one section's raw data; 0 if none.
    size_t Offset(DWORD rva, DWORD length) const
    {
        for (const IMAGE_SECTION_HEADER& section : sections_) {
            if (section.VirtualAddress <= rva && rva + length <= section.VirtualAddress + section.SizeOfRawData)
                return section.PointerToRawData + (rva - section.VirtualAddress);
        }
        return 0;
    }

    std::string String(DWORD rva) const
    {
        size_t at = Offset(rva, 1);
        if (at == 0)
            return std::string();
        const char* text = reinterpret_cast<const char*>(bytes_.data() + at);
        return std::string(text, strnlen(text, bytes_.size() - at));
    }

    size_t EndOfLastSection() const
    {
        size_t end = 0;
        for (const IMAGE_SECTION_HEADER& section : sections_)
            end = std::max<size_t>(end, section.PointerToRawData + section.SizeOfRawData);
        return end;
    }

    size_t checksumAt() const { return checksumAt_; }
    IMAGE_FILE_HEADER fileHeader() const { return fileHeader_; }
    const std::vector<IMAGE_SECTION_HEADER>& sections() const { return sections_; }
    size_t pointerSize() const { return pe32Plus() ? 8 : 4; }

    // A field of the optional header, at its PE32 offset; the fields from MajorOperatingSystemVersion
    // to DllCharacteristics lie at the same place in PE32+ headers.
    template <typename T>
    T OptionalField(size_t pe32Offset) const
    {
        T value{};
        Read(optionalAt_ + pe32Offset, value);
        return value;
    }

    unsigned long long imageBase() const
    {
        if (pe32Plus())
            return OptionalField<ULONGLONG>(offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase));
        return OptionalField<DWORD>(offsetof(IMAGE_OPTIONAL_HEADER32, ImageBase));
    }

    // A pointer-sized value at a file offset.
    unsigned long long Pointer(size_t at) const
    {
        if (pe32Plus()) {
            ULONGLONG value = 0;
            Read(at, value);
            return value;
        }
        DWORD value = 0;
        Read(at, value);
        return value;
    }

    template <typename T>
    bool Read(size_t at, T& value) const
    {
        if (at + sizeof(T) > bytes_.size())
            return false;
        std::memcpy(&value, bytes_.data() + at, sizeof(T));
        return true;
    }

private:
    bool Parse()
    {
        IMAGE_DOS_HEADER dos;
        DWORD signature = 0;
        if (!Read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || !Read(dos.e_lfanew, signature) ||
            signature != IMAGE_NT_SIGNATURE)
            return false;
        size_t header = dos.e_lfanew + sizeof(DWORD);
        size_t optional = header + sizeof(IMAGE_FILE_HEADER);
        if (!Read(header, fileHeader_) || !Read(optional, magic_))
            return false;
        optionalAt_ = optional;
        checksumAt_ = optional + offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum);
        if (magic_ == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
            directoriesAt_ = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        else if (magic_ == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            directoriesAt_ = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        else
            return false;
        size_t table = optional + fileHeader_.SizeOfOptionalHeader;
        for (WORD i = 0; i < fileHeader_.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!Read(table + i * sizeof(section), section))
                return false;
            sections_.push_back(section);
        }
        return true;
    }

    Bytes bytes_;
    bool ok_ = false;
    WORD magic_ = 0;
    IMAGE_FILE_HEADER fileHeader_ = {};
    size_t optionalAt_ = 0;
    size_t checksumAt_ = 0;
    size_t directoriesAt_ = 0;
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

const Image& Updater()
{
    static Image image(testArguments.empty() ? std::wstring() : testArguments[0]);
    return image;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The PE checksum: 16-bit sums with end-around carry over the whole file, the checksum field
// left out, plus the file's length.
DWORD PeChecksum(const Bytes& bytes, size_t checksumAt)
{
    unsigned long long sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i == checksumAt || i == checksumAt + 2)
            continue;
        unsigned word = bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<DWORD>(sum + bytes.size());
}

}  // namespace

TEST(UpdaterImage, LoadConfigurationAsksForTheSystemFolderOnly)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok()) << "pass the built updater";
    IMAGE_DATA_DIRECTORY directory = image.Directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
    ASSERT_NE(directory.VirtualAddress, 0u) << "the Load Configuration directory is empty";
    ASSERT_NE(directory.Size, 0u);

    size_t at = image.Offset(directory.VirtualAddress, sizeof(DWORD));
    ASSERT_NE(at, 0u) << "the directory points outside the sections";
    DWORD size = 0;
    ASSERT_TRUE(image.Read(at, size));
    EXPECT_EQ(size, directory.Size);
    EXPECT_EQ(directory.VirtualAddress % image.pointerSize(), 0u) << "the structure is not aligned";
    size_t flagsOffset = image.pe32Plus() ? 78 : 54;  // DependentLoadFlags
    ASSERT_GE(size, flagsOffset + sizeof(WORD)) << "too small to hold DependentLoadFlags";
    ASSERT_NE(image.Offset(directory.VirtualAddress, size), 0u);
    WORD flags = 0;
    ASSERT_TRUE(image.Read(at + flagsOffset, flags));
    EXPECT_EQ(flags, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

TEST(UpdaterImage, ImportsOnlyKernel32AndTheRuntimeWhenItStarts)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    std::vector<std::string> imported;
    IMAGE_DATA_DIRECTORY imports = image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (DWORD rva = imports.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor = {};
        size_t at = image.Offset(rva, sizeof(descriptor));
        ASSERT_NE(at, 0u);
        ASSERT_TRUE(image.Read(at, descriptor));
        if (descriptor.Name == 0)
            break;
        imported.push_back(Lower(image.String(descriptor.Name)));
    }
    std::sort(imported.begin(), imported.end());
    EXPECT_EQ(imported, (std::vector<std::string>{"kernel32.dll", "msvcrt.dll"}));
}

TEST(UpdaterImage, StaysStrippedWithAConsistentChecksum)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.bytes().size(), image.EndOfLastSection()) << "the image ends at its last section's data";
    EXPECT_EQ(image.fileHeader().PointerToSymbolTable, 0u);
    EXPECT_EQ(image.fileHeader().NumberOfSymbols, 0u);
    DWORD checksum = 0;
    ASSERT_TRUE(image.Read(image.checksumAt(), checksum));
    if (checksum != 0) {
        EXPECT_EQ(checksum, PeChecksum(image.bytes(), image.checksumAt()));
    }
}

// Every byte of the stub travels with every patch. The size-optimised build (no exception
// machinery, strings instantiated locally) keeps it well below this; a toolchain or library
// change that brings the runtime's exception support back shows here at once, not in a
// release's download size.
TEST(UpdaterImage, StaysUnder128KiB)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    EXPECT_LE(image.bytes().size(), 128u * 1024u) << "the updater stub grew past 128 KiB";
}

// Randomised placement (with the relocations it needs), no execution of data, no exception
// handler in the image on x86 (x64 unwinds through tables, not handler chains), the whole
// address space on x64, and terminal-server awareness: without that mark Windows gives the
// program a per-user Windows folder on a Remote Desktop Session Host, and the working folder
// would land in a place the user owns.
TEST(UpdaterImage, CarriesTheMarksWindowsLoaderActsOn)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    WORD characteristics = image.OptionalField<WORD>(offsetof(IMAGE_OPTIONAL_HEADER32, DllCharacteristics));
    WORD wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                  IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
    wanted |= image.pe32Plus() ? IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA : IMAGE_DLLCHARACTERISTICS_NO_SEH;
    EXPECT_EQ(characteristics & wanted, wanted) << std::hex << "DllCharacteristics 0x" << characteristics;

    WORD fileCharacteristics = image.fileHeader().Characteristics;
    EXPECT_EQ(fileCharacteristics & IMAGE_FILE_RELOCS_STRIPPED, 0) << "relocations stripped";
    if (image.pe32Plus()) {
        EXPECT_EQ(fileCharacteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, IMAGE_FILE_LARGE_ADDRESS_AWARE);
    }
    IMAGE_DATA_DIRECTORY relocations = image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
    EXPECT_NE(relocations.VirtualAddress, 0u);
    EXPECT_GT(relocations.Size, sizeof(IMAGE_BASE_RELOCATION)) << "an empty relocation directory";
}

// 6.0: what Windows Vista and later expect of a current program; the updater itself needs
// Windows 7 (Windows Installer 5.0's transactions), which loads any 6.x image.
TEST(UpdaterImage, IsAWindowsGuiProgramForSubsystemAndSystemVersion6)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.OptionalField<WORD>(offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem)), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(image.OptionalField<WORD>(offsetof(IMAGE_OPTIONAL_HEADER32, MajorSubsystemVersion)), 6);
    EXPECT_EQ(image.OptionalField<WORD>(offsetof(IMAGE_OPTIONAL_HEADER32, MinorSubsystemVersion)), 0);
    EXPECT_EQ(image.OptionalField<WORD>(offsetof(IMAGE_OPTIONAL_HEADER32, MajorOperatingSystemVersion)), 6);
    EXPECT_EQ(image.OptionalField<WORD>(offsetof(IMAGE_OPTIONAL_HEADER32, MinorOperatingSystemVersion)), 0);
}

// Each delay-import descriptor: attributes (1: the fields are RVAs), the DLL's name, its module
// handle, its address and name tables, and three fields that may be zero; a zero descriptor
// ends the table.
TEST(UpdaterImage, ListsEverySystemDllButKernel32AndTheRuntimeAsDelayLoaded)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    IMAGE_DATA_DIRECTORY directory = image.Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    ASSERT_NE(directory.VirtualAddress, 0u) << "the Delay Import directory is empty";
    std::vector<std::string> dlls;
    std::vector<std::string> functions;
    for (DWORD rva = directory.VirtualAddress;; rva += 8 * sizeof(DWORD)) {
        DWORD descriptor[8] = {};
        size_t at = image.Offset(rva, sizeof descriptor);
        ASSERT_NE(at, 0u) << "the table runs out of the sections without a zero descriptor";
        ASSERT_TRUE(image.Read(at, descriptor));
        if (std::all_of(descriptor, descriptor + 8, [](DWORD field) { return field == 0; }))
            break;
        EXPECT_EQ(descriptor[0], 1u) << "attributes: the fields are RVAs";
        dlls.push_back(Lower(image.String(descriptor[1])));
        for (DWORD entry = descriptor[4];; entry += static_cast<DWORD>(image.pointerSize())) {
            size_t entryAt = image.Offset(entry, static_cast<DWORD>(image.pointerSize()));
            ASSERT_NE(entryAt, 0u);
            unsigned long long name = image.Pointer(entryAt);
            if (name == 0)
                break;
            functions.push_back(image.String(static_cast<DWORD>(name) + 2));  // behind the hint
        }
    }
    std::sort(dlls.begin(), dlls.end());
    EXPECT_EQ(dlls, (std::vector<std::string>{"advapi32.dll", "comctl32.dll", "msi.dll", "ole32.dll", "rpcrt4.dll",
                                              "shell32.dll", "user32.dll"}));
    for (const char* function : {"MsiApplyMultiplePatchesW", "MsiBeginTransactionW", "CommandLineToArgvW",
                                 "MessageBoxW", "InitCommonControlsEx", "CheckTokenMembership"})
        EXPECT_NE(std::find(functions.begin(), functions.end(), function), functions.end()) << function;
}

// Where Windows loads the image elsewhere than its preferred base, it adds the difference to
// every place a base relocation names and to nothing else. So every pointer into the image that
// the program's data hold when it starts (the writable sections, and the TLS directory with
// its callbacks wherever it lies) must be named; one that is not still points at the
// preferred base, where nothing is mapped. Resources are left out: their tree holds RVAs and
// their data (icons, dialogs) no addresses, however much some bytes look like one, and ld
// marks their section writable.
TEST(UpdaterImage, EveryPointerIntoTheImageInItsDataHasABaseRelocation)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    WORD pointerType = image.pe32Plus() ? IMAGE_REL_BASED_DIR64 : IMAGE_REL_BASED_HIGHLOW;
    std::set<DWORD> relocated;
    IMAGE_DATA_DIRECTORY directory = image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
    for (DWORD rva = directory.VirtualAddress; rva < directory.VirtualAddress + directory.Size;) {
        IMAGE_BASE_RELOCATION block = {};
        size_t at = image.Offset(rva, sizeof block);
        ASSERT_NE(at, 0u);
        ASSERT_TRUE(image.Read(at, block));
        ASSERT_GE(block.SizeOfBlock, sizeof block);
        for (DWORD i = sizeof block; i + sizeof(WORD) <= block.SizeOfBlock; i += sizeof(WORD)) {
            WORD entry = 0;
            ASSERT_TRUE(image.Read(at + i, entry));
            if (entry >> 12 == pointerType)
                relocated.insert(block.VirtualAddress + (entry & 0xFFF));
            else
                EXPECT_EQ(entry >> 12, IMAGE_REL_BASED_ABSOLUTE) << "a relocation of another kind";
        }
        rva += block.SizeOfBlock;
    }

    unsigned long long base = image.imageBase();
    unsigned long long end = base + image.OptionalField<DWORD>(offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage));
    DWORD step = static_cast<DWORD>(image.pointerSize());
    auto pointerAt = [&](DWORD rva) {
        size_t at = image.Offset(rva, step);
        return at == 0 ? 0ull : image.Pointer(at);
    };
    size_t checked = 0;
    auto check = [&](DWORD rva) {
        unsigned long long value = pointerAt(rva);
        if (value < base || value >= end)
            return;
        ++checked;
        EXPECT_EQ(relocated.count(rva), 1u) << std::hex << "no base relocation for 0x" << value << " at RVA 0x" << rva;
    };
    IMAGE_DATA_DIRECTORY resources = image.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    for (const IMAGE_SECTION_HEADER& section : image.sections()) {
        if ((section.Characteristics & IMAGE_SCN_MEM_WRITE) == 0 || section.VirtualAddress == resources.VirtualAddress)
            continue;
        DWORD size = std::min(section.Misc.VirtualSize, section.SizeOfRawData);
        for (DWORD offset = 0; offset + step <= size; offset += step)
            check(section.VirtualAddress + offset);
    }
    IMAGE_DATA_DIRECTORY tls = image.Directory(IMAGE_DIRECTORY_ENTRY_TLS);
    if (tls.VirtualAddress != 0) {
        // Start and end of the template, the index's address, the callbacks' address.
        for (DWORD field = 0; field < 4; ++field)
            check(tls.VirtualAddress + field * step);
        unsigned long long callbacks = pointerAt(tls.VirtualAddress + 3 * step);
        if (callbacks >= base && callbacks < end) {
            for (DWORD rva = static_cast<DWORD>(callbacks - base); pointerAt(rva) != 0; rva += step)
                check(rva);
        }
    }
    EXPECT_GT(checked, 0u) << "no pointer into the image found: the check read nothing";
}
