// End-to-end runs of "velmora-cli sweep" and "velmora-cli merge" in scratch folders.
#include "support/program_run.h"
#include "support/scratch_directory.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora {
namespace {

using velmora::testing::Finished;
using velmora::testing::readBytes;
using velmora::testing::runProgram;
using velmora::testing::ScratchDirectory;
using velmora::testing::UserFolders;

class SweepCli : public ::testing::Test {
protected:
    ScratchDirectory scratch;

    void SetUp() override
    {
        for (const char* name : {"pulse_acquire.mol", "pulse_acquire.psq"})
            std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / name, scratch.path() / name);
    }
    void writeGrid(const std::string& text) const { std::ofstream(scratch.path() / "grid.tsv") << text; }
    Finished run(const std::vector<std::string>& options) const
    {
        std::vector<std::string> arguments = {VELMORA_CLI_PATH};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runProgram(arguments, scratch.path(), UserFolders{scratch.path(), scratch.path()});
    }
    Finished shard(const std::string& cut, const std::string& out) const
    {
        return run({"sweep", "--grid", (scratch.path() / "grid.tsv").string(), "--workdir", scratch.path().string(),
                    "--mol", "pulse_acquire.mol", "--psq", "pulse_acquire.psq", "--outputs", "spectra", "--quiet",
                    "--shard", cut, "--out", (scratch.path() / out).string()});
    }
};

TEST_F(SweepCli, AGridLineWithTooFewValuesIsRefusedNamingTheLine)
{
    writeGrid("lb\tp2\n1\t5\n2\n");
    const Finished ended = shard("1/1", "sweep");
    EXPECT_EQ(ended.status, 2);
    EXPECT_NE(ended.err.find("grid.tsv line 3 has 1 values for 2 names"), std::string::npos) << ended.err;
}

TEST_F(SweepCli, TwoShardsMergedEqualOneAndAMissingShardIsRefused)
{
    writeGrid("lb\tp2\n1\t5\n5\t5\n1\t-3\n5\t2.5\n");
    for (const std::string cut : {"1/2", "2/2"}) {
        const Finished ended = shard(cut, "two");
        EXPECT_EQ(ended.status, cut == "1/2" ? 0 : 1) << "p2=-3 in the second shard fails: " << ended.err;
    }
    EXPECT_EQ(shard("1/1", "one").status, 1);
    ASSERT_EQ(run({"merge", (scratch.path() / "two").string()}).status, 0);
    ASSERT_EQ(run({"merge", (scratch.path() / "one").string()}).status, 0);
    const std::string merged = readBytes(scratch.path() / "two" / "merged.tsv");
    EXPECT_EQ(merged, readBytes(scratch.path() / "one" / "merged.tsv"));
    const std::size_t failed = merged.find("\r\n2\t1\t-3\tfailed: ");
    ASSERT_NE(failed, std::string::npos) << merged.substr(0, 300);
    EXPECT_NE(merged.substr(failed, merged.find("\r\n", failed + 2) - failed).find("p2"), std::string::npos)
        << "the failed point's message names the element";
    EXPECT_LT(merged.find("\r\n1\t5\t5\tcompleted\t"), merged.find("\r\n3\t5\t2.5\tcompleted\t"));

    std::filesystem::remove(scratch.path() / "two" / "shard-1-of-2.tsv");
    const Finished missing = run({"merge", (scratch.path() / "two").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("shard 1 of 2 is missing"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace velmora
