// The folder utilities on real folders under the temporary folder: the level walk of
// CreateDirectoryPath, the working folder's name, its one-shot creation, and its removal.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <utility>

#include "FileHandle.h"
#include "Folders.h"
#include "TestFiles.h"

namespace {

bool IsFolder(const std::wstring& path)
{
    return DirectoryExists(path.c_str());
}

TEST(DirectoryExists, IsTrueForFoldersOnly)
{
    TempFolder folder;
    WriteAllBytes(folder / L"file", {1});
    EXPECT_TRUE(DirectoryExists(folder.path().c_str()));
    EXPECT_FALSE(DirectoryExists((folder / L"file").c_str()));
    EXPECT_FALSE(DirectoryExists((folder / L"missing").c_str()));
    EXPECT_FALSE(DirectoryExists(L""));
}

TEST(CreateDirectoryPath, CreatesEachMissingLevelBelowTheDeepestExistingOne)
{
    TempFolder folder;
    EXPECT_EQ(CreateDirectoryPath((folder / L"a\\b\\c").c_str()), 0);
    EXPECT_TRUE(IsFolder(folder / L"a\\b\\c"));

    // A final separator creates the last level, and the whole path then already exists.
    EXPECT_EQ(CreateDirectoryPath((folder / L"d\\e\\").c_str()), 0);
    EXPECT_TRUE(IsFolder(folder / L"d\\e"));

    // Slashes separate levels too.
    std::wstring slashed = folder.path() + L"/f/g";
    EXPECT_EQ(CreateDirectoryPath(slashed.c_str()), 0);
    EXPECT_TRUE(IsFolder(folder / L"f\\g"));
}

TEST(CreateDirectoryPath, ExistingPathsSucceedWithoutCreatingAnything)
{
    TempFolder folder;
    WriteAllBytes(folder / L"file", {1});
    EXPECT_EQ(CreateDirectoryPath(folder.path().c_str()), 0);
    EXPECT_EQ(CreateDirectoryPath((folder / L"file").c_str()), 0) << "a file counts as existing";
}

TEST(CreateDirectoryPath, FailsWhenNoLevelCanBeStartedFromOrMade)
{
    TempFolder folder;
    WriteAllBytes(folder / L"file", {1});
    EXPECT_EQ(CreateDirectoryPath(L"tv-missing-relative-folder"), -1);
    EXPECT_EQ(CreateDirectoryPath(L""), -1);
    EXPECT_EQ(CreateDirectoryPath((folder / L"file\\below").c_str()), -1);

    std::wstring longest = folder / std::wstring(259 - folder.path().size() - 1, L'x');
    ASSERT_EQ(longest.size(), 259u);
    std::wstring tooLong = longest + L"y";
    EXPECT_EQ(CreateDirectoryPath(tooLong.c_str()), -1);
    EXPECT_FALSE(FileExists(tooLong));
}

TEST(MakeWorkingFolderPath, IsTheTemporaryFolderAndANewGuidAndCreatesNothing)
{
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring prefix = temp;

    std::wstring first = MakeWorkingFolderPath();
    std::wstring second = MakeWorkingFolderPath();
    EXPECT_NE(first, second);
    ASSERT_EQ(first.size(), prefix.size() + 36);
    EXPECT_EQ(first.substr(0, prefix.size()), prefix);
    std::wstring guid = first.substr(prefix.size());
    for (size_t i = 0; i < guid.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            EXPECT_EQ(guid[i], L'-') << i;
        else
            EXPECT_TRUE(iswxdigit(guid[i]) && !iswupper(guid[i])) << i;
    }
    EXPECT_FALSE(FileExists(first));
}

TEST(CreateWorkingFolder, SucceedsOnlyForTheCallThatMadeTheFolder)
{
    TempFolder folder;
    std::wstring path = folder / L"work";
    EXPECT_TRUE(CreateWorkingFolder(path));
    EXPECT_TRUE(IsFolder(path));
    EXPECT_FALSE(CreateWorkingFolder(path)) << "a folder that exists already is not this run's";
    EXPECT_FALSE(CreateWorkingFolder(folder.path()));
    EXPECT_FALSE(CreateWorkingFolder(L""));
    EXPECT_FALSE(CreateWorkingFolder(folder / L"missing\\work")) << "one level only";
}

TEST(DeleteWorkingFolder, RemovesTheFilesAndTheFolder)
{
    TempFolder folder;
    std::wstring work = folder / L"work";
    ASSERT_TRUE(CreateWorkingFolder(work));
    WriteAllBytes(work + L"\\a.msp", {1});
    WriteAllBytes(work + L"\\b.msp", {});
    DeleteWorkingFolder(work.c_str());
    EXPECT_FALSE(FileExists(work));

    // Given with a final backslash, the same.
    ASSERT_TRUE(CreateWorkingFolder(work));
    WriteAllBytes(work + L"\\a.msp", {1});
    DeleteWorkingFolder((work + L"\\").c_str());
    EXPECT_FALSE(FileExists(work));
}

TEST(DeleteWorkingFolder, LeavesSubfoldersAndTheFolderAboveThem)
{
    TempFolder folder;
    std::wstring work = folder / L"work";
    ASSERT_TRUE(CreateWorkingFolder(work));
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

TEST(FileHandle, MovingHandsOverOneCloseAndPutClosesWhatItHeld)
{
    TempFolder folder;
    auto open = [&](const wchar_t* name) {
        return CreateFileW((folder / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE raw = open(L"a");
    DWORD flags = 0;
    {
        FileHandle first(raw);
        FileHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), raw);
        FileHandle third;
        third = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_TRUE(GetHandleInformation(raw, &flags)) << "still open after the moves";
    }
    EXPECT_FALSE(GetHandleInformation(raw, &flags)) << "closed once by the last holder";

    FileHandle holder(open(L"b"));
    HANDLE old = holder.get();
    *holder.put() = open(L"c");
    EXPECT_FALSE(GetHandleInformation(old, &flags));
    EXPECT_TRUE(holder);
    CloseHandle(holder.release());
    EXPECT_FALSE(holder);
}

}  // namespace
