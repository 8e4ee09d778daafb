#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

#include "AppState.h"

std::vector<std::wstring> testArguments;

TempFolder::TempFolder()
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        wchar_t name[64];
        wsprintfW(name, L"tvtest-%lu-%lu-%u", GetCurrentProcessId(), GetTickCount(), counter++);
        path_ = std::wstring(temp) + name;
        if (CreateDirectoryW(path_.c_str(), nullptr))
            return;
    }
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

void RemoveTree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> ListFolder(const std::wstring& folder, Entries which)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = entry.cFileName;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name == L"." || name == L".." || (which == Entries::Files && isFolder) ||
            (which == Entries::Folders && !isFolder))
            continue;
        names.push_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring TemporaryFolder()
{
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring path(temp, length <= MAX_PATH ? length : 0);
    if (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

std::wstring WindowsTempFolder()
{
    wchar_t windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring path(windows, length < MAX_PATH ? length : 0);
    if (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path + L"\\Temp";
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadAllBytes(const std::wstring& path, Bytes& bytes)
{
    bytes.clear();
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    uint8_t buffer[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr)) && read > 0)
        bytes.insert(bytes.end(), buffer, buffer + read);
    CloseHandle(file);
    return ok;
}

bool WriteAllBytes(const std::wstring& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                                written == bytes.size());
    CloseHandle(file);
    return ok;
}

std::vector<std::wstring> ReadLogMessages(const std::wstring& path)
{
    std::vector<std::wstring> messages;
    Bytes bytes;
    if (!ReadAllBytes(path, bytes)) {
        ADD_FAILURE() << "no log file";
        return messages;
    }
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data(), text.size() * 2);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            ADD_FAILURE() << "log line without CR LF";
            break;
        }
        std::wstring line = text.substr(start, end - start);
        bool shaped = line.size() >= 14 && line[2] == L':' && line[5] == L':' && line[8] == L'.' && line[12] == L' ' &&
                      line[13] == L' ';
        for (int i : {0, 1, 3, 4, 6, 7, 9, 10, 11})
            shaped = shaped && i < static_cast<int>(line.size()) && iswdigit(line[i]);
        EXPECT_TRUE(shaped) << "malformed log line";
        messages.push_back(line.size() >= 14 ? line.substr(14) : line);
        start = end + 2;
    }
    return messages;
}

void ResetAppState()
{
    appState.runMode = RunMode::Interactive;
    appState.logFile.reset();
    appState.payloadFile.reset();
    appState.extractFolder.clear();
    appState.logFolder.clear();
    appState.productName.clear();
    appState.productVersion.clear();
}

Bytes Utf16Bytes(const std::wstring& text)
{
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

void KeepResultFile(const std::wstring& logFolder, const std::wstring& label)
{
    std::wstring path = logFolder + L"\\TessarvaneUpdater.json";
    EXPECT_TRUE(FileExists(path)) << "no result file in the log folder";
    EXPECT_FALSE(FileExists(path + L".tmp")) << "the result file's temporary file was left behind";
    wchar_t folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TESSARVANE_RESULTS", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::wstring target = std::wstring(folder) + L"\\" + std::wstring(name.begin(), name.end());
    if (!label.empty())
        target += L"." + label;
    target += L".json";
    EXPECT_TRUE(CopyFileW(path.c_str(), target.c_str(), FALSE))
        << "cannot keep the result file, error " << GetLastError();
}
