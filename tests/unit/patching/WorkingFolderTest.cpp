// The working folder on real folders: its name and place, its one-shot creation with its
// access rules (which the log folder's levels share), and its removal.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "AppState.h"
#include "FolderSeams.h"
#include "Folders.h"
#include "Log.h"
#include "LogFolder.h"
#include "TestFiles.h"
#include "WorkingFolder.h"

namespace {

bool IsFolder(const std::wstring& path)
{
    return DirectoryExists(path.c_str());
}

std::wstring WindowsTemp()
{
    wchar_t windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring folder(windows, length);
    return folder + L"\\Temp\\";
}

bool IsGuidText(const std::wstring& text)
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != L'-' : !(iswxdigit(text[i]) && !iswupper(text[i])))
            return false;
    }
    return true;
}

class WorkingFolder : public ::testing::Test {
protected:
    void SetUp() override { ResetFolderSeams(); }
    void TearDown() override
    {
        ResetFolderSeams();
        ResetAppState();
    }

    RunRecord record;
};

TEST_F(WorkingFolder, PathIsTheWindowsFoldersTempAndANewGuidAndCreatesNothing)
{
    std::wstring prefix = WindowsTemp();
    std::wstring first = MakeWorkingFolderPath();
    std::wstring second = MakeWorkingFolderPath();
    EXPECT_NE(first, second);
    ASSERT_EQ(first.substr(0, prefix.size()), prefix);
    EXPECT_TRUE(IsGuidText(first.substr(prefix.size()))) << first.size();
    EXPECT_FALSE(FileExists(first));

    wchar_t userTemp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH, userTemp), 0u);
    EXPECT_NE(first.substr(0, wcslen(userTemp)), userTemp) << "never the user's temporary folder";
}

TEST_F(WorkingFolder, PathIsEmptyWhenTheWindowsFolderCannotBeHadOrThePathWouldBeTooLong)
{
    struct Case {
        const wchar_t* what;
        bool fail;
        std::wstring windows;
        std::wstring expectedPrefix;  // empty: no path at all
    };
    const std::wstring longest(MaxWorkingFolderPath - 42, L'w');
    const Case cases[] = {
        {L"plain", false, L"C:\\windows", L"C:\\windows\\Temp\\"},
        {L"drive root", false, L"D:\\", L"D:\\Temp\\"},
        {L"longest that fits", false, L"C:\\" + longest.substr(3), L"C:\\" + longest.substr(3) + L"\\Temp\\"},
        {L"one character too long", false, L"C:\\" + longest.substr(3) + L"x", L""},
        {L"longer than the buffer", false, L"C:\\" + std::wstring(MAX_PATH, L'w'), L""},
        {L"call fails", true, L"", L""},
    };
    for (const Case& c : cases) {
        folderSeams.replaceWindowsFolder = true;
        folderSeams.windowsFolder = c.windows;
        folderSeams.failWindowsFolder = c.fail;
        std::wstring path = MakeWorkingFolderPath();
        if (c.expectedPrefix.empty()) {
            EXPECT_EQ(path, L"") << c.what;
            continue;
        }
        ASSERT_EQ(path.size(), c.expectedPrefix.size() + 36) << c.what;
        EXPECT_EQ(path.substr(0, c.expectedPrefix.size()), c.expectedPrefix) << c.what;
        EXPECT_LE(path.size(), MaxWorkingFolderPath) << c.what;
    }
}

// On a Remote Desktop Session Host a program that is not terminal-server aware gets a private
// Windows folder from GetWindowsDirectoryW; the working folder must not land there.
TEST_F(WorkingFolder, PathComesFromTheSystemsWindowsFolderNotAUsersPrivateOne)
{
    folderSeams.replaceWindowsFolder = true;
    folderSeams.windowsFolder = L"C:\\Windows";
    folderSeams.userWindowsFolder = L"C:\\Users\\someone\\WINDOWS";
    std::wstring path = MakeWorkingFolderPath();
    EXPECT_EQ(path.rfind(L"C:\\Windows\\Temp\\", 0), 0u) << testing::PrintToString(path);
}

// A log folder that the updater makes itself gets the working folder's protected access list
// on every level it creates; levels that existed are left alone.
TEST_F(WorkingFolder, LogFolderLevelsThatTheUpdaterCreatesGetTheSameProtection)
{
    std::wstring working = MakeWorkingFolderPath();
    ASSERT_TRUE(CreateWorkingFolder(working, record));
    RemoveDirectoryW(working.c_str());
    std::vector<uint8_t> protectedDescriptor = folderSeams.descriptor;
    ASSERT_FALSE(protectedDescriptor.empty());

    TempFolder folder;
    folderSeams.createCalls = 0;
    appState.logFolder = folder / L"a\\b";
    PrepareLogFolder();
    EXPECT_TRUE(IsFolder(folder / L"a\\b"));
    EXPECT_EQ(folderSeams.createCalls, 2);
    EXPECT_EQ(folderSeams.createdPath, folder / L"a\\b");
    EXPECT_EQ(folderSeams.descriptor, protectedDescriptor);

    folderSeams.createCalls = 0;
    appState.logFolder = folder / L"a\\b";
    PrepareLogFolder();
    EXPECT_EQ(folderSeams.createCalls, 0) << "an existing log folder is not touched";
}

// The descriptor that CreateDirectoryW was handed, read back from the seam's copy. Wine keeps
// no folder DACL, so reading it back from the folder would prove nothing.
TEST_F(WorkingFolder, IsCreatedProtectedWithAccessForSystemAndAdministratorsOnly)
{
    std::wstring path = MakeWorkingFolderPath();
    ASSERT_TRUE(CreateWorkingFolder(path, record));
    EXPECT_TRUE(IsFolder(path));
    RemoveDirectoryW(path.c_str());

    EXPECT_EQ(folderSeams.createCalls, 1) << "one call makes the folder with its access rules";
    EXPECT_EQ(folderSeams.createdPath, path);
    ASSERT_TRUE(folderSeams.hadAttributes);
    EXPECT_FALSE(folderSeams.inheritHandle);
    ASSERT_FALSE(folderSeams.descriptor.empty());
    PSECURITY_DESCRIPTOR descriptor = folderSeams.descriptor.data();
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing may be inherited from the Temp folder";
    EXPECT_FALSE(control & SE_DACL_DEFAULTED);

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr) << "a null DACL would grant everyone everything";

    BYTE systemSid[SECURITY_MAX_SID_SIZE];
    BYTE administratorsSid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(systemSid);
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &size));
    size = sizeof(administratorsSid);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administratorsSid, &size));

    std::vector<std::vector<BYTE>> forbidden;
    for (WELL_KNOWN_SID_TYPE type :
         {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid, WinInteractiveSid, WinCreatorOwnerSid}) {
        std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
        size = static_cast<DWORD>(sid.size());
        ASSERT_TRUE(CreateWellKnownSid(type, nullptr, sid.data(), &size)) << type;
        forbidden.push_back(sid);
    }
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE userBuffer[256];
    DWORD userSize = 0;
    BOOL gotUser = GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &userSize);
    CloseHandle(token);
    ASSERT_TRUE(gotUser);
    PSID userSid = reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid;
    forbidden.emplace_back(static_cast<BYTE*>(userSid), static_cast<BYTE*>(userSid) + GetLengthSid(userSid));

    ACL_SIZE_INFORMATION aclSize = {};
    ASSERT_TRUE(GetAclInformation(dacl, &aclSize, sizeof(aclSize), AclSizeInformation));
    int systemAces = 0;
    int administratorsAces = 0;
    for (DWORD i = 0; i < aclSize.AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        auto* header = static_cast<ACE_HEADER*>(ace);
        ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_FALSE(header->AceFlags & INHERITED_ACE) << i;
        EXPECT_EQ(header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
            << "the extracted patches get the same rules";
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        for (auto& other : forbidden)
            EXPECT_FALSE(EqualSid(sid, other.data())) << "ACE " << i << " grants access to a forbidden account";
        if (EqualSid(sid, systemSid))
            ++systemAces;
        else if (EqualSid(sid, administratorsSid))
            ++administratorsAces;
        else
            ADD_FAILURE() << "ACE " << i << " is for neither SYSTEM nor Administrators";
        EXPECT_EQ(allowed->Mask, static_cast<DWORD>(FILE_ALL_ACCESS)) << i;
    }
    EXPECT_EQ(systemAces, 1);
    EXPECT_EQ(administratorsAces, 1);
}

TEST_F(WorkingFolder, CreationSucceedsOnlyForTheCallThatMadeTheFolderAndLogsWhyNot)
{
    TempFolder logs;
    appState.logFolder = logs.path() + L"\\";
    OpenLogFile();

    TempFolder folder;
    std::wstring path = folder / L"work";
    EXPECT_TRUE(CreateWorkingFolder(path, record));
    EXPECT_TRUE(IsFolder(path));
    EXPECT_FALSE(CreateWorkingFolder(path, record)) << "a folder that exists already is not this run's";
    EXPECT_FALSE(CreateWorkingFolder(folder / L"missing\\work", record)) << "one level only";
    int calls = folderSeams.createCalls;
    EXPECT_FALSE(CreateWorkingFolder(L"", record));
    EXPECT_EQ(folderSeams.createCalls, calls) << "an empty path is never created, nor made relative";

    appState.logFile.reset();
    const std::vector<std::wstring> expected = {
        L"Failed to create the working folder, error=183",
        L"Failed to create the working folder, error=3",
        L"No working folder could be named under the Windows folder's Temp folder.",
    };
    EXPECT_EQ(ReadLogMessages(logs / L"TessarvaneUpdater.log"), expected);
}

TEST(DeleteWorkingFolder, RemovesTheFilesAndTheFolder)
{
    RunRecord record;
    TempFolder folder;
    std::wstring work = folder / L"work";
    ASSERT_TRUE(CreateWorkingFolder(work, record));
    WriteAllBytes(work + L"\\a.msp", {1});
    WriteAllBytes(work + L"\\b.msp", {});
    DeleteWorkingFolder(work.c_str());
    EXPECT_FALSE(FileExists(work));

    // Given with a final backslash, the same.
    ASSERT_TRUE(CreateWorkingFolder(work, record));
    WriteAllBytes(work + L"\\a.msp", {1});
    DeleteWorkingFolder((work + L"\\").c_str());
    EXPECT_FALSE(FileExists(work));
}

TEST(DeleteWorkingFolder, LeavesSubfoldersAndTheFolderAboveThem)
{
    RunRecord record;
    TempFolder folder;
    std::wstring work = folder / L"work";
    ASSERT_TRUE(CreateWorkingFolder(work, record));
    CreateDirectoryW((work + L"\\sub").c_str(), nullptr);
    WriteAllBytes(work + L"\\a.msp", {1});
    WriteAllBytes(work + L"\\sub\\kept.msp", {2});
    DeleteWorkingFolder(work.c_str());
    EXPECT_FALSE(FileExists(work + L"\\a.msp"));
    EXPECT_TRUE(FileExists(work + L"\\sub\\kept.msp"));
    EXPECT_TRUE(IsFolder(work));
}

TEST(DeleteWorkingFolder, DoesNothingForAFileOrAnEmptyPath)
{
    TempFolder folder;
    WriteAllBytes(folder / L"file", {1});
    DeleteWorkingFolder((folder / L"file").c_str());
    DeleteWorkingFolder(L"");
    EXPECT_TRUE(FileExists(folder / L"file"));
}

}  // namespace
