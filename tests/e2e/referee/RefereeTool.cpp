// The Windows side of the referee scenarios: what Windows Installer says about products and
// patches, in a form two runs can be compared by, and the exit code of a program it starts
// (a Windows exit code does not fit through Wine's Unix exit status).
//   state CODE...            per product and installed context: its version and applied patches
//   sequence CODE PATCH...   the patches that apply to the product, in the order Windows
//                            Installer gives for the context it is installed in
//   run PROGRAM [ARG...]     starts the program, waits, prints "exit N"
//   holding FILE PROGRAM [ARG...]   the same while FILE is held open without sharing, as a
//                            running program holds its files
#include <windows.h>

#include <msi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const MSIINSTALLCONTEXT contexts[] = {MSIINSTALLCONTEXT_MACHINE, MSIINSTALLCONTEXT_USERMANAGED,
                                      MSIINSTALLCONTEXT_USERUNMANAGED};

std::wstring ProductInfo(const std::wstring& code, MSIINSTALLCONTEXT context, const wchar_t* property)
{
    wchar_t value[256] = L"";
    DWORD count = ARRAYSIZE(value);
    if (MsiGetProductInfoExW(code.c_str(), nullptr, context, property, value, &count) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

bool InstalledIn(const std::wstring& code, MSIINSTALLCONTEXT context)
{
    return ProductInfo(code, context, INSTALLPROPERTY_PRODUCTSTATE) == L"5";
}

void PrintState(const std::wstring& code)
{
    bool any = false;
    for (MSIINSTALLCONTEXT context : contexts) {
        if (!InstalledIn(code, context))
            continue;
        any = true;
        wprintf(L"%ls context %d version %ls\n", code.c_str(), static_cast<int>(context),
                ProductInfo(code, context, INSTALLPROPERTY_VERSIONSTRING).c_str());
        std::vector<std::wstring> patches;
        for (DWORD i = 0;; ++i) {
            wchar_t patch[39] = L"";
            if (MsiEnumPatchesExW(code.c_str(), nullptr, context, MSIPATCHSTATE_APPLIED, i, patch, nullptr, nullptr,
                                  nullptr, nullptr) != ERROR_SUCCESS)
                break;
            patches.push_back(patch);
        }
        std::sort(patches.begin(), patches.end());
        for (const std::wstring& patch : patches)
            wprintf(L"%ls context %d patch %ls\n", code.c_str(), static_cast<int>(context), patch.c_str());
    }
    if (!any)
        wprintf(L"%ls not installed\n", code.c_str());
}

void PrintSequence(const std::wstring& code, const std::vector<std::wstring>& patches)
{
    for (MSIINSTALLCONTEXT context : contexts) {
        if (!InstalledIn(code, context))
            continue;
        std::vector<MSIPATCHSEQUENCEINFOW> sequence(patches.size());
        for (size_t i = 0; i < patches.size(); ++i) {
            sequence[i].szPatchData = patches[i].c_str();
            sequence[i].ePatchDataType = MSIPATCH_DATATYPE_PATCHFILE;
            sequence[i].dwOrder = 0xFFFFFFFF;
            sequence[i].uStatus = 0;
        }
        if (MsiDeterminePatchSequenceW(code.c_str(), nullptr, context, static_cast<DWORD>(sequence.size()),
                                       sequence.data()) != ERROR_SUCCESS)
            return;
        std::vector<size_t> order;
        for (size_t i = 0; i < sequence.size(); ++i) {
            if (sequence[i].uStatus == 0 && static_cast<int32_t>(sequence[i].dwOrder) >= 0)
                order.push_back(i);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&sequence](size_t a, size_t b) { return sequence[a].dwOrder < sequence[b].dwOrder; });
        for (size_t i : order)
            wprintf(L"%ls\n", patches[i].c_str());
        return;
    }
}

int Run(int first, int argc, wchar_t** argv)
{
    std::wstring commandLine;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            commandLine += L' ';
        commandLine += L'"' + std::wstring(argv[i]) + L'"';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        wprintf(L"start failed %lu\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"exit %lu\n", exitCode);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    std::wstring command = argv[1];
    if (command == L"state") {
        for (int i = 2; i < argc; ++i)
            PrintState(argv[i]);
    } else if (command == L"sequence" && argc >= 3) {
        PrintSequence(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
    } else if (command == L"run" && argc >= 3) {
        return Run(2, argc, argv);
    } else if (command == L"holding" && argc >= 4) {
        HANDLE held = CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            wprintf(L"cannot hold %ls: %lu\n", argv[2], GetLastError());
            return 1;
        }
        int result = Run(3, argc, argv);
        CloseHandle(held);
        return result;
    } else {
        return 2;
    }
    fflush(stdout);
    return 0;
}
