// The command line: what each form asks for, and the usage errors that exit with 2.
#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

const Args kBuild = {"build", "--stub", "s.exe", "--name", "N", "--version", "1", "--output", "o.exe"};

Args With(Args args, const Args& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(CommandLine, ReadsBuildWithItsOptionsInAnyOrder)
{
    pack::CommandLine line;
    std::string error;
    ASSERT_TRUE(pack::ParseCommandLine({"build", "b.msp", "--output=o.exe", "--allow-any-file", "--name", "My Product",
                                        "--version=", "--stub", "s.exe", "a.msp", "--", "--odd.msp"},
                                       line, error))
        << error;
    EXPECT_EQ(line.command, pack::Command::Build);
    EXPECT_EQ(line.build.stub, "s.exe");
    EXPECT_EQ(line.build.name, "My Product");
    EXPECT_EQ(line.build.version, "");
    EXPECT_EQ(line.build.output, "o.exe");
    EXPECT_TRUE(line.build.allowAnyFile);
    EXPECT_EQ(line.build.files, (Args{"b.msp", "a.msp", "--odd.msp"}));
}

TEST(CommandLine, ReadsInspectAndHelp)
{
    pack::CommandLine line;
    std::string error;
    ASSERT_TRUE(pack::ParseCommandLine({"inspect", "--json", "u.exe"}, line, error)) << error;
    EXPECT_EQ(line.command, pack::Command::Inspect);
    EXPECT_EQ(line.inspectPath, "u.exe");
    EXPECT_TRUE(line.json);
    for (const Args& args : {Args{"--help"}, Args{"-h"}, With(kBuild, {"--help"}), Args{"inspect", "--help"}}) {
        ASSERT_TRUE(pack::ParseCommandLine(args, line, error)) << error;
        EXPECT_EQ(line.command, pack::Command::Help);
    }
}

TEST(CommandLine, RefusesUsageErrors)
{
    struct Case {
        Args args;
        const char* error;
    } cases[] = {
        {{}, "a command is needed"},
        {{"pack"}, "unknown command pack"},
        {With(kBuild, {"a.msp", "--colour"}), "unknown option --colour"},
        {With(kBuild, {"a.msp", "--name", "M"}), "--name is given twice"},
        {{"build", "a.msp", "--stub"}, "--stub needs a value"},
        {{"build", "--stub", "s.exe", "--name", "N", "--version", "1", "a.msp"}, "build needs --output"},
        {{"build", "--stub=", "--name", "N", "--version", "1", "--output", "o", "a.msp"}, "need a file name"},
        {{"inspect"}, "needs the updater"},
        {{"inspect", "a.exe", "b.exe"}, "one updater"},
        {{"inspect", "-j", "a.exe"}, "unknown option -j"},
    };
    for (const Case& c : cases) {
        pack::CommandLine line;
        std::string error;
        EXPECT_FALSE(pack::ParseCommandLine(c.args, line, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
