// The folder utilities on real folders under the temporary folder: the folder test, the level
// walk of CreateDirectoryPath, and the file handle holder.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "UniqueHandle.h"
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
    // Every failure leaves a reason for the log line that reports it, never 0.
    SetLastError(0);
    EXPECT_EQ(CreateDirectoryPath(L"tv-missing-relative-folder"), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(CreateDirectoryPath(L""), -1);
    EXPECT_NE(GetLastError(), 0u);
    SetLastError(0);
    EXPECT_EQ(CreateDirectoryPath((folder / L"file\\below").c_str()), -1);
    EXPECT_NE(GetLastError(), 0u);

    std::wstring longest = folder / std::wstring(259 - folder.path().size() - 1, L'x');
    ASSERT_EQ(longest.size(), 259u);
    std::wstring tooLong = longest + L"y";
    SetLastError(0);
    EXPECT_EQ(CreateDirectoryPath(tooLong.c_str()), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(FileExists(tooLong));
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
