// tv-fatal: a GUI program built like the updater (same flags, the same replacement of the
// library's throwing paths) that runs into one fatal failure, so that the scenarios can see
// how such a process ends: its exit code, its last log line, and no box.
//   tv-fatal LOGFOLDER new|string|bind
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "AppState.h"
#include "Log.h"

// Listed in the probe's delay-import library for user32, which has no such function: the first
// call meets the delay-load failure as a call of the program would.
extern "C" void WINAPI NoSuchFunctionInUser32();

static void* volatile kept;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3)
        return 2;
    appState.logFolder = std::wstring(argv[1]) + L"\\";
    OpenLogFile();
    std::wstring what = argv[2];
    LocalFree(argv);

    if (what == L"new") {
        // volatile: the compiler may not see the size and drop the allocation.
        volatile size_t huge = SIZE_MAX / 2;
        kept = new char[huge];
    } else if (what == L"string") {
        std::wstring text;
        text.reserve(text.max_size() + 1);
        kept = &text[0];
    } else if (what == L"bind") {
        NoSuchFunctionInUser32();
    }
    return 0;
}
