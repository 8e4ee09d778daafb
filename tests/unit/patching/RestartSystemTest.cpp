// The restart: privilege steps and a reboot request that is made whatever they gave.
#include <gtest/gtest.h>

#include "Fakes.h"
#include "RestartSystem.h"

namespace {

const wchar_t openToken[] = L"OpenProcessToken(current, 0x00000028)";
const wchar_t lookUp[] = L"LookupPrivilegeValueW(null, SeShutdownPrivilege)";
const wchar_t adjust[] = L"AdjustTokenPrivileges(token, 0, 1 x luid 19:0 attributes 2, 0, null, null)";
const wchar_t reboot[] = L"ExitWindowsEx(2, 0x80040001)";  // a still open token would be named here

}  // namespace

TEST(RestartSystem, EnablesTheShutdownPrivilegeClosesTheTokenAndAsksForAReboot)
{
    ResetFake();
    RestartSystem();
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{openToken, lookUp, adjust, reboot}));
}

TEST(RestartSystem, AsksForTheRebootEvenWithoutTokenOrPrivilege)
{
    ResetFake();
    fake.openTokenResult = FALSE;
    RestartSystem();
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{openToken, reboot}));

    ResetFake();
    fake.lookupResult = FALSE;
    RestartSystem();
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{openToken, lookUp, reboot}));
}
