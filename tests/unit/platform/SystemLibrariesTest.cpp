// DLL search restriction: once restricted, system DLLs come from the system folder, and a name
// that exists only beside the program is not found at all.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "SystemLibraries.h"

namespace {

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring ModuleFolder(HMODULE module)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring text(path, length);
    return Lower(text.substr(0, text.rfind(L'\\')));
}

}  // namespace

TEST(SystemLibraries, LoadOnlyFromTheSystemFolderOnceTheSearchIsRestricted)
{
    RestrictDllSearch();
    EXPECT_TRUE(DllSearchRestricted()) << "SetDefaultDllDirectories is available here";

    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    HMODULE version = LoadSystemLibrary(L"version.dll");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(ModuleFolder(version), Lower(std::wstring(system, length)));

    // A DLL beside this program, under a name the system folder does not have.
    wchar_t program[MAX_PATH];
    DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring beside = std::wstring(program, programLength);
    beside = beside.substr(0, beside.rfind(L'\\')) + L"\\tv-planted-only-here.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(system, length) + L"\\version.dll").c_str(), beside.c_str(), FALSE));
    EXPECT_EQ(LoadSystemLibrary(L"tv-planted-only-here.dll"), nullptr);
    EXPECT_EQ(LoadLibraryW(L"tv-planted-only-here.dll"), nullptr) << "the program's folder is not searched";
    DeleteFileW(beside.c_str());
}
