// The resources of the built updater, read back out of its image and compared with what the
// windows and the shell rely on: both dialog templates byte field by field, the icon group,
// the manifest, the accelerator table and the string table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "resource.h"

namespace {

struct Control {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    std::wstring className, text;
    uint16_t extraCount;
};

struct Dialog {
    uint16_t version, signature;
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    std::wstring menu, className, caption;
    uint16_t pointSize, weight;
    uint8_t italic, charset;
    std::wstring font;
    std::vector<Control> controls;
};

bool operator==(const Control& a, const Control& b)
{
    // Window class names compare without case, as Windows does; windres stores custom class
    // names in upper case.
    return a.helpId == b.helpId && a.exStyle == b.exStyle && a.style == b.style && a.x == b.x && a.y == b.y &&
           a.cx == b.cx && a.cy == b.cy && a.id == b.id && _wcsicmp(a.className.c_str(), b.className.c_str()) == 0 &&
           a.text == b.text && a.extraCount == b.extraCount;
}

std::ostream& operator<<(std::ostream& out, const Control& c)
{
    std::string name(c.className.begin(), c.className.end()), text(c.text.begin(), c.text.end());
    return out << "{id " << c.id << " " << name << " \"" << text << "\" style 0x" << std::hex << c.style << " ex 0x"
               << c.exStyle << std::dec << " " << c.x << "," << c.y << "," << c.cx << "," << c.cy << " help "
               << c.helpId << " extra " << c.extraCount << "}";
}

// Reads the fields of a template in order, with the alignment rules of DLGTEMPLATEEX.
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool ok() const { return ok_; }

    template <typename T>
    T Read()
    {
        T value{};
        if (offset_ + sizeof(T) > size_) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, data_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    std::wstring ReadString()
    {
        std::wstring text;
        for (uint16_t c = Read<uint16_t>(); ok_ && c != 0; c = Read<uint16_t>())
            text += static_cast<wchar_t>(c);
        return text;
    }

    // A name or an ordinal; an ordinal reads as "#n", nothing as "".
    std::wstring ReadNameOrOrdinal()
    {
        uint16_t first = Read<uint16_t>();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Read<uint16_t>());
        std::wstring text(1, static_cast<wchar_t>(first));
        return text + ReadString();
    }

    void AlignToDword() { offset_ = (offset_ + 3) & ~size_t(3); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

class UpdaterResources : public testing::Test {
protected:
    void SetUp() override
    {
        if (testArguments.empty())
            GTEST_SKIP() << "pass the updater's path";
        module = LoadLibraryExW(testArguments[0].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << "cannot load " << testArguments[0].size();
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }

    std::vector<uint8_t> Resource(LPCWSTR type, int id) const
    {
        HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (found == nullptr)
            return {};
        const uint8_t* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
        return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
    }

    Dialog ReadDialog(int id) const
    {
        std::vector<uint8_t> bytes = Resource(RT_DIALOG, id);
        TemplateReader reader(bytes.data(), bytes.size());
        Dialog d{};
        d.version = reader.Read<uint16_t>();
        d.signature = reader.Read<uint16_t>();
        d.helpId = reader.Read<uint32_t>();
        d.exStyle = reader.Read<uint32_t>();
        d.style = reader.Read<uint32_t>();
        uint16_t count = reader.Read<uint16_t>();
        d.x = reader.Read<int16_t>();
        d.y = reader.Read<int16_t>();
        d.cx = reader.Read<int16_t>();
        d.cy = reader.Read<int16_t>();
        d.menu = reader.ReadNameOrOrdinal();
        d.className = reader.ReadNameOrOrdinal();
        d.caption = reader.ReadString();
        if (d.style & DS_SETFONT) {
            d.pointSize = reader.Read<uint16_t>();
            d.weight = reader.Read<uint16_t>();
            d.italic = reader.Read<uint8_t>();
            d.charset = reader.Read<uint8_t>();
            d.font = reader.ReadString();
        }
        for (uint16_t i = 0; i < count && reader.ok(); ++i) {
            reader.AlignToDword();
            Control c{};
            c.helpId = reader.Read<uint32_t>();
            c.exStyle = reader.Read<uint32_t>();
            c.style = reader.Read<uint32_t>();
            c.x = reader.Read<int16_t>();
            c.y = reader.Read<int16_t>();
            c.cx = reader.Read<int16_t>();
            c.cy = reader.Read<int16_t>();
            c.id = reader.Read<uint32_t>();
            c.className = reader.ReadNameOrOrdinal();
            c.text = reader.ReadNameOrOrdinal();
            c.extraCount = reader.Read<uint16_t>();
            d.controls.push_back(c);
        }
        EXPECT_TRUE(reader.ok()) << "template " << id << " is cut short";
        return d;
    }

    void ExpectShellFontExtendedTemplate(const Dialog& d) const
    {
        EXPECT_EQ(d.version, 1);
        EXPECT_EQ(d.signature, 0xFFFF);
        EXPECT_EQ(d.helpId, 0u);
        EXPECT_EQ(d.menu, L"");
        EXPECT_EQ(d.className, L"");
        EXPECT_EQ(d.pointSize, 8);
        EXPECT_EQ(d.weight, FW_NORMAL);
        EXPECT_EQ(d.italic, 0);
        EXPECT_EQ(d.charset, DEFAULT_CHARSET);
        EXPECT_EQ(d.font, L"MS Shell Dlg");
    }

    HMODULE module = nullptr;
};

const wchar_t* const StaticClass = L"#130";
const wchar_t* const ButtonClass = L"#128";

}  // namespace

TEST_F(UpdaterResources, TheProgressWindowTemplateIsAsTheWindowExpects)
{
    Dialog d = ReadDialog(IDD_UPDATER);
    ExpectShellFontExtendedTemplate(d);
    EXPECT_EQ(d.style, 0x80C80048u) << "popup, caption, system menu, shell font; hidden";
    EXPECT_EQ(d.exStyle, 0x00040000u);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.cx, 244);
    EXPECT_EQ(d.cy, 101);
    EXPECT_EQ(d.caption, L"Tessarvane Updater");
    const std::vector<Control> expected = {
        {0, 0, 0x50020000, 6, 6, 232, 22, IDC_HEADER_TEXT, StaticClass, L"[PLACEHOLDER]", 0},
        {0, 0, 0x50020000, 6, 34, 232, 19, IDC_STATUS_TEXT, StaticClass, L"Click 'OK' to continue", 0},
        {0, 0, 0x40800008, 6, 59, 232, 14, IDC_PROGRESS, L"msctls_progress32", L"", 0},
        {0, 0, 0x50010000, 132, 79, 50, 16, IDOK, ButtonClass, L"OK", 0},
        {0, 0, 0x50010000, 188, 79, 50, 16, IDCANCEL, ButtonClass, L"Cancel", 0},
    };
    EXPECT_EQ(d.controls, expected);
}

TEST_F(UpdaterResources, TheAboutBoxTemplateIsAsTheBoxExpects)
{
    Dialog d = ReadDialog(IDD_ABOUT);
    ExpectShellFontExtendedTemplate(d);
    EXPECT_EQ(d.style, 0x80C800C8u);
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.cx, 200);
    EXPECT_EQ(d.cy, 80);
    EXPECT_EQ(d.caption, L"About Tessarvane Updater");
    ASSERT_EQ(d.controls.size(), 4u);
    const std::vector<Control> expected = {
        {0, 0, 0x50010001, 144, 60, 50, 14, IDOK, ButtonClass, L"OK", 0},
        {0, 0, 0x50020000, 6, 12, 188, 8, IDC_ABOUT_NAME, StaticClass, L"Tessarvane Updater", 0},
        {0, 0, 0x50020000, 6, 26, 188, 8, IDC_ABOUT_VERSION, StaticClass, L"Version 1.0", 0},
        {0, 0, 0x50020000, 6, 40, 188, 8, 0xFFFFFFFF, StaticClass, d.controls[3].text, 0},
    };
    EXPECT_EQ(d.controls, expected);
    // The last line is the maker's notice, whatever its wording.
    const std::wstring& notice = d.controls[3].text;
    EXPECT_EQ(notice.rfind(L"Copyright", 0), 0u) << "the maker's notice";
    EXPECT_NE(notice.find(L"Tessarvane"), std::wstring::npos) << "names the maker";
}

TEST_F(UpdaterResources, TheIconGroupListsTenImagesInOrder)
{
    std::vector<uint8_t> group = Resource(RT_GROUP_ICON, IDI_UPDATER);
    ASSERT_EQ(group.size(), 6u + 10 * 14);
    uint16_t header[3];
    std::memcpy(header, group.data(), sizeof(header));
    EXPECT_EQ(header[0], 0);
    EXPECT_EQ(header[1], 1) << "an icon, not a cursor";
    EXPECT_EQ(header[2], 10);

    struct Image {
        int size, depth;
        bool png;
    };
    const Image images[] = {{32, 4, false}, {16, 4, false},  {256, 8, true},  {48, 8, false},  {32, 8, false},
                            {16, 8, false}, {256, 32, true}, {48, 32, false}, {32, 32, false}, {16, 32, false}};
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i + 1);
        const uint8_t* entry = group.data() + 6 + 14 * i;
        uint16_t planes, bitCount, resourceId;
        uint32_t bytes;
        std::memcpy(&planes, entry + 4, 2);
        std::memcpy(&bitCount, entry + 6, 2);
        std::memcpy(&bytes, entry + 8, 4);
        std::memcpy(&resourceId, entry + 12, 2);
        EXPECT_EQ(entry[0], images[i].size % 256);
        EXPECT_EQ(entry[1], images[i].size % 256);
        EXPECT_EQ(entry[2], images[i].depth == 4 ? 16 : 0);
        EXPECT_EQ(planes, 1);
        EXPECT_EQ(bitCount, images[i].depth);
        EXPECT_EQ(resourceId, i + 1);

        std::vector<uint8_t> image = Resource(RT_ICON, resourceId);
        ASSERT_EQ(image.size(), bytes);
        ASSERT_GE(image.size(), 40u);
        if (images[i].png) {
            EXPECT_EQ(std::memcmp(image.data(), "\x89PNG\r\n\x1a\n", 8), 0);
            uint8_t colourType = image[25];
            EXPECT_EQ(image[24], 8) << "bits per sample";
            EXPECT_EQ(colourType, images[i].depth == 8 ? 3 : 6) << "palette or RGBA";
            continue;
        }
        BITMAPINFOHEADER info;
        std::memcpy(&info, image.data(), sizeof(info));
        EXPECT_EQ(info.biSize, 40u);
        EXPECT_EQ(info.biWidth, images[i].size);
        EXPECT_EQ(info.biHeight, 2 * images[i].size) << "colour rows and mask";
        EXPECT_EQ(info.biBitCount, images[i].depth);
    }
}

TEST_F(UpdaterResources, TheManifestRequestsElevationAndCommonControlsSixOnly)
{
    std::vector<uint8_t> bytes = Resource(RT_MANIFEST, 1);
    std::string text(bytes.begin(), bytes.end());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
    for (const char* part : {"<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
                             "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
                             "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
                             "type=\"win32\"", "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                             "processorArchitecture=\"*\"", "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""}) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }

    // Nothing beyond those parts: the elements, in document order.
    std::vector<std::string> elements;
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && (isalnum(static_cast<unsigned char>(text[end])) || text[end] == ':'))
            ++end;
        if (end > at + 1)
            elements.push_back(text.substr(at + 1, end - at - 1));
    }
    EXPECT_EQ(elements, (std::vector<std::string>{"assembly", "trustInfo", "security", "requestedPrivileges",
                                                  "requestedExecutionLevel", "dependency", "dependentAssembly",
                                                  "assemblyIdentity"}));
}

TEST_F(UpdaterResources, TheAcceleratorTableMapsAltSlashAndQuestionMarkToAbout)
{
    std::vector<uint8_t> bytes = Resource(RT_ACCELERATOR, IDR_ACCELERATORS);
    ASSERT_EQ(bytes.size(), 16u);
    const uint16_t lastEntry = 0x80;
    struct Entry {
        uint16_t flags, key, id, padding;
    } entries[2];
    std::memcpy(entries, bytes.data(), sizeof(entries));
    EXPECT_EQ(entries[0].flags, FALT | FNOINVERT);
    EXPECT_EQ(entries[0].key, '/');
    EXPECT_EQ(entries[0].id, IDM_ABOUT);
    EXPECT_EQ(entries[1].flags, FALT | FNOINVERT | lastEntry);
    EXPECT_EQ(entries[1].key, '?');
    EXPECT_EQ(entries[1].id, IDM_ABOUT);
}

TEST_F(UpdaterResources, TheStringTableHoldsTheWindowAndStartUpTexts)
{
    const std::pair<UINT, const wchar_t*> strings[] = {
        {IDS_APPLYING_UPDATES, L"Applying updates..."},
        {IDS_CLOSE, L"Close"},
        {IDS_FINISHED, L"Finished updating."},
        {IDS_FAILED, L"Update failed."},
        {IDS_INTRO_FORMAT, L"This utility will update your %s to version %s."},
        {IDS_EMPTY_UPDATER, L"Error: either the updater is empty, or the contained update data are inaccessible."},
        {IDS_INSTALLING_FORMAT, L"Installing update '%s' for '%s'."},
        {IDS_ALREADY_INSTALLED_FORMAT, L"Update '%s' is already installed for '%s'."},
    };
    for (const auto& [id, text] : strings) {
        wchar_t buffer[256] = L"";
        LoadStringW(module, id, buffer, 256);
        EXPECT_STREQ(buffer, text) << id;
    }
}

namespace {

BOOL CALLBACK AddType(HMODULE, LPWSTR type, LONG_PTR types)
{
    reinterpret_cast<std::set<uintptr_t>*>(types)->insert(IS_INTRESOURCE(type) ? reinterpret_cast<uintptr_t>(type) : 0);
    return TRUE;
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
    return TRUE;
}

BOOL CALLBACK AddLanguagesOfName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR languages)
{
    EnumResourceLanguagesW(module, type, name, AddLanguage, languages);
    return TRUE;
}

}  // namespace

TEST_F(UpdaterResources, NothingElseIsCarriedAndEverythingIsUsEnglish)
{
    std::set<uintptr_t> types;
    EnumResourceTypesW(module, AddType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<uintptr_t> expected = {3 /* RT_ICON */,
                                          5 /* RT_DIALOG */,
                                          6 /* RT_STRING */,
                                          9 /* RT_ACCELERATOR */,
                                          14 /* RT_GROUP_ICON */,
                                          16 /* RT_VERSION */,
                                          24 /* RT_MANIFEST */};
    EXPECT_EQ(types, expected) << "no menu, nothing named; the version resource names the release";

    int groups = 0;
    EnumResourceNamesW(module, RT_GROUP_ICON, CountName, reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, 1) << "the shell shows the only icon group as the program's icon";

    std::set<WORD> languages;
    for (uintptr_t type : expected)
        EnumResourceNamesW(module, MAKEINTRESOURCEW(type), AddLanguagesOfName, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::set<WORD>{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)});
}
