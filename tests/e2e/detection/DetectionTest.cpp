// The registry clauses of tessarvane-pack detection against the registry that Wine's Windows
// Installer writes. run-detection.sh has installed the products, packed first.exe (pair.msp
// for an x64 and an x86 product, solo.msp for a third) and later.exe (later.msp, which
// supersedes solo.msp in their patch family), and written each updater's `detection --json`
// beside it; the clauses are read from there, never worked out here. The tests run in order:
// before any run, after first.exe, after later.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <msi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "WindowDriver.h"

namespace {

const DWORD Timeout = 120000;

std::wstring Work()
{
    return testArguments.empty() ? std::wstring() : testArguments[0];
}

struct Clause {
    std::wstring patchCode, productCode, keyPath, valueName;
    std::vector<DWORD> acceptedStates;
};

// The text of the JSON string that begins at `at` (its opening quote); the packer escapes
// only quotes, backslashes and control characters.
std::wstring JsonStringAt(const std::string& json, size_t at)
{
    std::wstring text;
    for (size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] != '\\') {
            text.push_back(static_cast<unsigned char>(json[i]));
        } else if (json[i + 1] == 'u') {
            text.push_back(static_cast<wchar_t>(std::stoul(json.substr(i + 2, 4), nullptr, 16)));
            i += 5;
        } else {
            text.push_back(static_cast<unsigned char>(json[++i]));
        }
    }
    return text;
}

// The first string member of that name in one clause's text.
std::wstring Member(const std::string& clause, const std::string& name)
{
    size_t at = clause.find("\"" + name + "\": \"");
    return at == std::string::npos ? std::wstring() : JsonStringAt(clause, at + name.size() + 4);
}

// The clauses of an updater's `detection --json` output: the objects of its "clauses" array,
// each with its own members, not those of the Intune rules inside it.
std::vector<Clause> ReadClauses(const std::wstring& file)
{
    Bytes bytes;
    EXPECT_TRUE(ReadAllBytes(Work() + L"\\" + file, bytes)) << "no detection output";
    std::string json(bytes.begin(), bytes.end());
    std::vector<Clause> clauses;
    const std::string start = "\n    {\n      \"entry\": ";
    for (size_t at = json.find(start); at != std::string::npos;) {
        size_t next = json.find(start, at + 1);
        std::string text = json.substr(at, next == std::string::npos ? std::string::npos : next - at);
        Clause clause{Member(text, "patchCode"),
                      Member(text, "productCode"),
                      Member(text, "keyPath"),
                      Member(text, "valueName"),
                      {}};
        size_t states = text.find("\"acceptedStates\": [");
        for (size_t p = states + 19; states != std::string::npos && text[p] != ']'; p = text.find_first_of(",]", p)) {
            p = text.find_first_of("0123456789", p);
            clause.acceptedStates.push_back(std::stoul(text.substr(p)));
        }
        clauses.push_back(clause);
        at = next;
    }
    return clauses;
}

// The clause's key path below HKEY_LOCAL_MACHINE.
std::wstring Subkey(const Clause& clause)
{
    const std::wstring hive = L"HKEY_LOCAL_MACHINE\\";
    EXPECT_EQ(clause.keyPath.compare(0, hive.size(), hive), 0) << clause.keyPath.size();
    return clause.keyPath.substr(hive.size());
}

// The clause's value in one registry view: ERROR_SUCCESS with the DWORD, or the error.
LSTATUS ReadState(const Clause& clause, REGSAM view, DWORD& state)
{
    HKEY key = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Subkey(clause).c_str(), 0, KEY_QUERY_VALUE | view, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = sizeof state;
    result = RegGetValueW(key, nullptr, clause.valueName.c_str(), RRF_RT_REG_DWORD, nullptr, &state, &size);
    RegCloseKey(key);
    return result;
}

bool Accepted(const Clause& clause, DWORD state)
{
    return std::find(clause.acceptedStates.begin(), clause.acceptedStates.end(), state) != clause.acceptedStates.end();
}

// The state Windows Installer itself reports for the patch on the per-machine installation.
std::wstring InstallerPatchState(const Clause& clause)
{
    wchar_t state[16] = L"";
    DWORD length = 16;
    UINT result = MsiGetPatchInfoExW(clause.patchCode.c_str(), clause.productCode.c_str(), nullptr,
                                     MSIINSTALLCONTEXT_MACHINE, INSTALLPROPERTY_PATCHSTATE, state, &length);
    return result == ERROR_SUCCESS ? state : L"error " + std::to_wstring(result);
}

DWORD RunUnattended(const std::wstring& updater)
{
    DrivenProcess process;
    EXPECT_TRUE(process.Start(Work() + L"\\" + updater, {L"-a", L"-l", Work() + L"\\logs-" + updater}));
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_TRUE(process.WaitForExit(Timeout, exitCode)) << "the updater did not end";
    return exitCode;
}

// Each clause holds: the 64-bit view has the value, with a state the clause accepts and that
// Windows Installer reports too; the 32-bit view does not have it, so a 32-bit reader (and an
// Intune rule with check32BitOn64System) that does not ask for the 64-bit view misses it.
void ExpectHolds(const Clause& clause)
{
    DWORD state = 0;
    ASSERT_EQ(ReadState(clause, KEY_WOW64_64KEY, state), ERROR_SUCCESS) << "no State under the clause's key";
    EXPECT_TRUE(Accepted(clause, state)) << "State " << state;
    EXPECT_EQ(InstallerPatchState(clause), std::to_wstring(state));
    DWORD other = 0;
    EXPECT_EQ(ReadState(clause, KEY_WOW64_32KEY, other), ERROR_FILE_NOT_FOUND);
}

}  // namespace

TEST(DetectionClauses, AreAbsentBeforeTheUpdaterRuns)
{
    ASSERT_FALSE(Work().empty()) << "pass the scenario work folder";
    std::vector<Clause> clauses = ReadClauses(L"first.detection.json");
    ASSERT_EQ(clauses.size(), 3u) << "pair.msp on two products, solo.msp on one";
    for (const Clause& clause : clauses) {
        EXPECT_EQ(clause.valueName, L"State");
        EXPECT_EQ(clause.acceptedStates, (std::vector<DWORD>{1, 2, 4}));
        DWORD state = 0;
        EXPECT_EQ(ReadState(clause, KEY_WOW64_64KEY, state), ERROR_FILE_NOT_FOUND) << "State " << state;
    }
}

TEST(DetectionClauses, HoldOnceTheUpdaterHasRun)
{
    ASSERT_EQ(RunUnattended(L"first.exe"), 0u);
    for (const Clause& clause : ReadClauses(L"first.detection.json")) {
        SCOPED_TRACE(std::string(clause.productCode.begin(), clause.productCode.end()));
        ExpectHolds(clause);
    }
}

// later.msp names solo.msp's family with a higher sequence and msidbPatchSequenceSupersedeEarlier:
// Windows Installer then marks solo.msp superseded (State 2) on the product, which the clause
// accepts. Wine 8 does not. Its MsiDeterminePatchSequence orders nothing: each patch it is given
// that applies to the product gets its own place in that list as its order and status 0, one
// that does not gets order 0xFFFFFFFF and 1642, and for more than one patch it only logs that
// ordering is not supported; it reads no MsiPatchSequence and reports no patch as superseded.
// Applying later.msp registers it with State 1 and leaves solo.msp's State at 1 (the test
// prints what it finds). Either way the earlier updater's clauses still hold.
TEST(DetectionClauses, StillHoldAfterALaterPatchSupersedesTheFirst)
{
    ASSERT_EQ(RunUnattended(L"later.exe"), 0u);
    std::vector<Clause> later = ReadClauses(L"later.detection.json");
    ASSERT_EQ(later.size(), 1u);
    ExpectHolds(later[0]);
    for (const Clause& clause : ReadClauses(L"first.detection.json")) {
        SCOPED_TRACE(std::string(clause.productCode.begin(), clause.productCode.end()));
        ExpectHolds(clause);
        DWORD state = 0;
        if (clause.productCode == later[0].productCode && ReadState(clause, KEY_WOW64_64KEY, state) == ERROR_SUCCESS)
            std::printf("solo.msp's State after later.msp: %lu\n", static_cast<unsigned long>(state));
    }
}
