// Restart actions in a patch's transforms: the row forms that add or change one, those that do
// not, and transforms that do not fit the sequence tables' schema; then what build and
// inspect make of them.
#include "Builder.h"
#include "CompoundFile.h"
#include "Examiner.h"
#include "PatchTargets.h"
#include "ReportFormat.h"
#include "RestartActions.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

using packtest::Bytes;
using packtest::MakePatch;
using packtest::TestTransform;
using packtest::TransformRow;

// Strings of the transforms below: 1 ScheduleReboot, 2 ForceReboot, 3 InstallFiles, 4 NOT Installed.
const std::vector<std::string> kStrings = {"ScheduleReboot", "ForceReboot", "InstallFiles", "NOT Installed"};
const uint32_t kSchedule = 1, kForce = 2, kInstallFiles = 3, kCondition = 4;

std::vector<std::string> Found(const Bytes& patch, std::string* problem = nullptr)
{
    compound::Reader reader;
    std::string error;
    EXPECT_TRUE(reader.Open(patch, &error)) << error;
    std::vector<pack::RestartAction> actions;
    bool read = pack::FindRestartActions(reader, actions, error);
    if (problem)
        *problem = read ? std::string() : error;
    else
        EXPECT_TRUE(read) << error;
    std::vector<std::string> described;
    for (const pack::RestartAction& action : actions)
        described.push_back(pack::DescribeRestartAction(action));
    return described;
}

Bytes Rows(const std::vector<Bytes>& rows)
{
    Bytes all;
    for (const Bytes& row : rows)
        all.insert(all.end(), row.begin(), row.end());
    return all;
}

}  // namespace

TEST(RestartActions, AreFoundInWholeRowsAndUpdatesButNotInDeletionsOrOtherActions)
{
    struct Case {
        const char* what;
        std::string table;
        Bytes rows;
        std::vector<std::string> found;
    };
    const Case cases[] = {
        {"a whole row adds ScheduleReboot",
         "InstallExecuteSequence",
         TransformRow(0x0301, {{kSchedule, 2}, {0, 2}, {6590 + 0x8000, 2}}),
         {"ScheduleReboot in InstallExecuteSequence (transform T1)"}},
        {"an update gives ForceReboot a new condition",
         "InstallExecuteSequence",
         TransformRow(0x0002, {{kForce, 2}, {kCondition, 2}}),
         {"ForceReboot in InstallExecuteSequence (transform T1)"}},
        {"an update of the sequence only",
         "InstallUISequence",
         TransformRow(0x0004, {{kForce, 2}, {0x8010, 2}}),
         {"ForceReboot in InstallUISequence (transform T1)"}},
        {"a deletion takes one away", "InstallExecuteSequence", TransformRow(0x0000, {{kSchedule, 2}}), {}},
        {"other actions",
         "InstallExecuteSequence",
         Rows({TransformRow(0x0301, {{kInstallFiles, 2}, {kCondition, 2}, {0x8FA0, 2}}),
               TransformRow(0x0000, {{kForce, 2}}), TransformRow(0x0301, {{kSchedule, 2}, {0, 2}, {0x9000, 2}})}),
         {"ScheduleReboot in InstallExecuteSequence (transform T1)"}},
        {"a table that is not a sequence", "Property", TransformRow(0x0201, {{kSchedule, 2}, {kForce, 2}}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Found(MakePatch("{A1}", {TestTransform{"T1", kStrings, c.table, c.rows}})), c.found);
    }
}

TEST(RestartActions, ReadThreeByteStringReferencesWhenThePoolSaysSo)
{
    Bytes rows = TransformRow(0x0301, {{kForce, 3}, {0, 3}, {0x8001, 2}});
    EXPECT_EQ(Found(MakePatch("{A1}", {TestTransform{"#T1", kStrings, "AdminExecuteSequence", rows, true}})),
              std::vector<std::string>{"ForceReboot in AdminExecuteSequence (transform #T1)"});
}

TEST(RestartActions, ATransformThatDoesNotFitTheSchemaIsAProblemNotACrash)
{
    struct Case {
        const char* what;
        Bytes rows;
        const char* problem;
    };
    const Case cases[] = {
        {"cut inside a row", TransformRow(0x0301, {{kSchedule, 2}, {0, 2}}), "ends inside a row"},
        {"cut inside a mask", Bytes{0x01}, "ends inside a row's mask"},
        {"four columns", TransformRow(0x0401, {{kSchedule, 2}, {0, 2}, {0, 2}, {0, 2}}), "columns"},
        {"a string id past the pool", TransformRow(0x0301, {{9, 2}, {0, 2}, {0x8001, 2}}), "refers to string 9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string problem;
        Found(MakePatch("{A1}", {TestTransform{"T1", kStrings, "InstallExecuteSequence", c.rows}}), &problem);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        EXPECT_EQ(problem.compare(0, 13, "transform T1:"), 0) << problem;
    }
}

TEST(RestartActions, BuildWarnsOfThemAndStrictRefusesToPack)
{
    packtest::ScratchFolder folder;
    std::string stub = folder.Write("stub.exe", packtest::MakeImage(0x800));
    Bytes rows = TransformRow(0x0301, {{kSchedule, 2}, {0, 2}, {0x8001, 2}});
    std::string patch =
        folder.Write("reboot.msp", MakePatch("{A1}", {TestTransform{"T1", kStrings, "InstallExecuteSequence", rows}}));
    pack::BuildRequest request;
    request.stub = stub;
    request.name = "Product";
    request.version = "1.0";
    request.output = folder / "out.exe";
    request.files = {patch};

    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(pack::BuildUpdater(request, warnings, error)) << error;
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("its transforms add ScheduleReboot in InstallExecuteSequence (transform T1)"),
              std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[0].find("--strict refuses it"), std::string::npos);

    // Inspect shows it in the entry, in the warnings and in JSON.
    pack::InputFile input;
    ASSERT_TRUE(input.Open(request.output, error)) << error;
    pack::UpdaterReport report;
    ASSERT_TRUE(pack::InspectUpdater(input, report, error)) << error;
    std::string text = pack::FormatReportText("out.exe", report);
    EXPECT_NE(text.find("      restart actions ScheduleReboot in InstallExecuteSequence (transform T1)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("warning: entry 0: the patch adds ScheduleReboot"), std::string::npos) << text;
    EXPECT_NE(pack::FormatReportJson("out.exe", report)
                  .find("\"restartActions\": [\"ScheduleReboot in InstallExecuteSequence (transform T1)\"]"),
              std::string::npos);

    request.strict = true;
    request.output = folder / "strict.exe";
    warnings.clear();
    EXPECT_FALSE(pack::BuildUpdater(request, warnings, error));
    EXPECT_NE(error.find("(--strict)"), std::string::npos) << error;
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"out.exe", "reboot.msp", "stub.exe"})) << "nothing written";
}

TEST(RestartActions, APatchWithoutThemShowsNoneAndAnEmptyJsonList)
{
    packtest::ScratchFolder folder;
    pack::BuildRequest request;
    request.stub = folder.Write("stub.exe", packtest::MakeImage(0x800));
    request.name = "Product";
    request.version = "1.0";
    request.output = folder / "out.exe";
    request.files = {folder.Write("plain.msp", MakePatch("{A1}", 100, "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}"))};
    request.strict = true;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(pack::BuildUpdater(request, warnings, error)) << error;
    EXPECT_TRUE(warnings.empty());
    pack::InputFile input;
    ASSERT_TRUE(input.Open(request.output, error)) << error;
    pack::UpdaterReport report;
    ASSERT_TRUE(pack::InspectUpdater(input, report, error)) << error;
    EXPECT_NE(pack::FormatReportText("out.exe", report).find("      restart actions (none)\n"), std::string::npos);
    EXPECT_NE(pack::FormatReportJson("out.exe", report).find("\"restartActions\": []"), std::string::npos);
}
