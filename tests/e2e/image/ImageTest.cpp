// The built updater read back as a file: what the loader finds in it before any of its code
// runs. Its static imports are only kernel32 and the C runtime (every other system DLL, Windows
// Installer included, is bound at first call from the system folder), and the Load
// Configuration directory points at a structure whose DependentLoadFlags limit what the
// loader resolves to the system folder. The image stays stripped and its checksum consistent,
// and it is marked terminal-server aware.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
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
    size_t dllCharacteristicsAt() const { return dllCharacteristicsAt_; }
    IMAGE_FILE_HEADER fileHeader() const { return fileHeader_; }

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
        checksumAt_ = optional + offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum);
        // At the same place in PE32 and PE32+ headers.
        dllCharacteristicsAt_ = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DllCharacteristics);
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
    size_t checksumAt_ = 0;
    size_t dllCharacteristicsAt_ = 0;
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
TEST(UpdaterImage, StaysUnder100KiB)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    EXPECT_LE(image.bytes().size(), 100u * 1024u) << "the updater stub grew past 100 KiB";
}

// Without the mark, Windows gives the program a per-user Windows folder on a Remote Desktop
// Session Host, and the working folder would land in a place the user owns.
TEST(UpdaterImage, IsMarkedTerminalServerAware)
{
    const Image& image = Updater();
    ASSERT_TRUE(image.ok());
    WORD characteristics = 0;
    ASSERT_TRUE(image.Read(image.dllCharacteristicsAt(), characteristics));
    EXPECT_EQ(characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE,
              IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
    EXPECT_EQ(characteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
}
