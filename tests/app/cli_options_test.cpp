#include "app/cli_options.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {
namespace {

ParsedCommandLine parse(std::initializer_list<std::string_view> arguments)
{
    const std::vector<std::string_view> list(arguments);
    return parseCommandLine(list);
}

TEST(CliOptions, RunTakesEveryOptionWithItsValue)
{
    const ParsedCommandLine parsed =
        parse({"run", "--workdir", "/tmp/lab", "--mol", "water.mol", "--psq", "cosy.psq", "--2d", "--set",
               "Text14(3)=400", "--element", "d1=2.5", "--set", "List5=0213,01", "--png", "--quiet",
               "--threads", "3"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const CliOptions& options = *parsed.options;
    EXPECT_EQ(options.action, CliOptions::Action::Run);
    EXPECT_EQ(options.workingDirectory, std::filesystem::path("/tmp/lab"));
    EXPECT_EQ(options.moleculeFile, "water.mol");
    EXPECT_EQ(options.sequenceFile, "cosy.psq");
    EXPECT_TRUE(options.twoD);
    EXPECT_TRUE(options.png);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.threads, 3);
    const std::vector<Override> expected = {{Override::Target::Control, "Text14(3)=400"},
                                            {Override::Target::Element, "d1=2.5"},
                                            {Override::Target::Control, "List5=0213,01"}};
    EXPECT_EQ(options.overrides, expected) << "overrides keep their command-line order";
}

TEST(CliOptions, MakePulseTakesItsOwnOptionsOnly)
{
    const ParsedCommandLine parsed =
        parse({"make-pulse", "--workdir=/tmp/lab", "--set", "Check2(0)=1", "--name", "g1", "--png"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->command, CliOptions::Command::MakePulse);
    EXPECT_EQ(parsed.options->pulseName, "g1");
    EXPECT_TRUE(parsed.options->png);
    EXPECT_EQ(parsed.options->overrides, (std::vector<Override>{{Override::Target::Control, "Check2(0)=1"}}));
    EXPECT_EQ(parse({"make-pulse", "--help"}).options->action, CliOptions::Action::Help);

    EXPECT_EQ(parse({"make-pulse", "--element", "d1=2"}).error, "make-pulse takes no option --element");
    EXPECT_EQ(parse({"run", "--name", "g1"}).error, "run takes no option --name");
    EXPECT_FALSE(parse({"make-pulse", "--name"}).options);
}

TEST(CliOptions, PlainRunReadsNothingBeyondStartUp)
{
    const ParsedCommandLine parsed = parse({"run"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_FALSE(parsed.options->workingDirectory);
    EXPECT_TRUE(parsed.options->moleculeFile.empty());
    EXPECT_TRUE(parsed.options->sequenceFile.empty());
    EXPECT_FALSE(parsed.options->twoD);
    EXPECT_FALSE(parsed.options->png);
    EXPECT_FALSE(parsed.options->quiet);
    EXPECT_EQ(parsed.options->threads, 0) << "every core";
    EXPECT_TRUE(parsed.options->overrides.empty());
}

TEST(CliOptions, ValuesMayFollowAnEqualsSign)
{
    const ParsedCommandLine parsed =
        parse({"run", "--workdir=/data/run 1", "--set=Check1(4)=1", "--element=p2=0"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->workingDirectory, std::filesystem::path("/data/run 1"));
    const std::vector<Override> expected = {{Override::Target::Control, "Check1(4)=1"},
                                            {Override::Target::Element, "p2=0"}};
    EXPECT_EQ(parsed.options->overrides, expected) << "only the first '=' ends the option name";
}

TEST(CliOptions, ATextThatLooksLikeAnOptionIsStillAValue)
{
    const ParsedCommandLine parsed = parse({"run", "--set", "Label3(14)=--quiet"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_FALSE(parsed.options->quiet);
    ASSERT_EQ(parsed.options->overrides.size(), 1u);
    EXPECT_EQ(parsed.options->overrides[0].assignment, "Label3(14)=--quiet");
}

TEST(CliOptions, TheUsageTextNamesEveryOption)
{
    const std::string usage = usageText();
    for (const char* option :
         {"--workdir", "--mol", "--psq", "--2d", "--set", "--element", "--png", "--quiet", "--threads"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(CliOptions, AThreadCountMustBeAWholeNumberFromOne)
{
    for (const std::string_view bad : {"0", "-2", "two", "3x", "", "100000"}) {
        const ParsedCommandLine parsed = parse({"run", "--threads", bad});
        EXPECT_FALSE(parsed.options) << bad;
        EXPECT_NE(parsed.error.find("--threads"), std::string::npos) << bad;
    }
}

TEST(CliOptions, HelpAndVersionWinOverTheRun)
{
    EXPECT_EQ(parse({"--help"}).options->action, CliOptions::Action::Help);
    EXPECT_EQ(parse({"-h"}).options->action, CliOptions::Action::Help);
    EXPECT_EQ(parse({"--version"}).options->action, CliOptions::Action::Version);
    EXPECT_EQ(parse({"run", "--mol", "a.mol", "--help"}).options->action, CliOptions::Action::Help);
    EXPECT_EQ(parse({"run", "--version", "--bogus"}).options->action, CliOptions::Action::Version);
}

TEST(CliOptions, CommandLinesThatAreNotUnderstoodSayWhy)
{
    struct Case {
        std::vector<std::string_view> arguments;
        std::string_view errorMentions;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"start"}, "unknown command \"start\""},
        {{"--quiet"}, "unknown option \"--quiet\""},
        {{"run", "--fast"}, "unknown option \"--fast\""},
        {{"run", "extra"}, "unexpected argument \"extra\""},
        {{"run", "--workdir"}, "--workdir needs a value"},
        {{"run", "--workdir="}, "--workdir needs a directory"},
        {{"run", "--set"}, "--set needs a value"},
        {{"run", "--set", "Text14(3)"}, "--set takes an assignment"},
        {{"run", "--element", "=2"}, "--element takes an assignment"},
        {{"run", "--mol", "../elsewhere/a.mol"}, "--mol takes the name of a file in the working directory"},
        {{"run", "--psq", ""}, "--psq takes the name of a file"},
        {{"run", "--2d=yes"}, "--2d takes no value"},
        {{"run", "--png=plots"}, "--png takes no value"},
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = parseCommandLine(c.arguments);
        EXPECT_FALSE(parsed.options) << parsed.error;
        EXPECT_NE(parsed.error.find(c.errorMentions), std::string::npos)
            << "error \"" << parsed.error << "\" should mention " << c.errorMentions;
    }
}

// What the manifest's "call" line holds, a shell reads back as the arguments given.
TEST(CliOptions, TheCommandLineIsQuotedSoThatAShellReadsTheSameArguments)
{
    const std::vector<std::string> arguments = {"run",         "--set", "Text14(11)=3", "--mol",
                                                "my cosy.mol", "it's",  "$HOME",        "",
                                                "a;b|c",       "~x",    "--quiet"};
    std::string printed = "printf '%s\\n'";
    for (const std::string& argument : arguments)
        printed += " " + shellQuoted(argument);
    FILE* shell = popen(("sh -c " + shellQuoted(printed)).c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, shell) != nullptr)
        output += buffer;
    ASSERT_EQ(pclose(shell), 0);
    std::string expected;
    for (const std::string& argument : arguments)
        expected += argument + "\n";
    EXPECT_EQ(output, expected);
    EXPECT_EQ(shellQuoted("Text14(11)=3"), "'Text14(11)=3'");
    EXPECT_EQ(shellQuoted("--threads"), "--threads");
}

}  // namespace
}  // namespace velmora::app
