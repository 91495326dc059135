#include "model/molecule_file.h"
#include "support/scratch_directory.h"

#include <gtest/gtest.h>

namespace velmora::model {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

constexpr std::string_view kStartUpMolecule = "3,14,3,\r\n"
                                              "H0,H1,C2,\r\n"
                                              "H0,H1,C2,\r\n"
                                              "-0.5,0.4,0,\r\n"
                                              "0,30,0,30,0,140,0,140,0,\r\n"
                                              "1000,1000,1000,\r\n"
                                              "1000,100,100,\r\n"
                                              "spare,\r\n"
                                              "spare,\r\n"
                                              "spare,\r\n";

SpinSystem startUpSystem()
{
    SpinSystem s;
    s.rebuild();
    return s;
}

// Everything a molecule file can change, compared field by field.
void expectSameSpins(const SpinSystem& a, const SpinSystem& b)
{
    ASSERT_EQ(a.spinCount(), b.spinCount());
    for (int i = 0; i < SpinSystem::kSlots; ++i) {
        EXPECT_EQ(a.label(i), b.label(i)) << "slot " << i;
        EXPECT_EQ(a.shiftPpm(i), b.shiftPpm(i)) << "slot " << i;
        EXPECT_EQ(a.t1Ms(i), b.t1Ms(i)) << "slot " << i;
        EXPECT_EQ(a.t2Ms(i), b.t2Ms(i)) << "slot " << i;
        for (int j = 0; j < SpinSystem::kSlots; ++j)
            EXPECT_EQ(a.couplingHz(i, j), b.couplingHz(i, j)) << i << "," << j;
    }
}

TEST(MoleculeFileWrite, StartUpMoleculeIsWrittenByteForByte)
{
    const ScratchDirectory dir;
    const auto path = dir.path() / "start.mol";
    ASSERT_TRUE(writeMolecule(path, startUpSystem()));
    EXPECT_EQ(readBytes(path), kStartUpMolecule);
}

TEST(MoleculeFileWrite, UnwritableTargetIsReportedAndNothingIsLeftBehind)
{
    const ScratchDirectory dir;
    const util::Outcome result = writeMolecule(dir.path() / "missing-folder" / "x.mol", startUpSystem());
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.message().find("x.mol"), std::string::npos);
}

TEST(MoleculeFileRoundTrip, ValuesComeBackAtSinglePrecision)
{
    const ScratchDirectory dir;
    const auto path = dir.path() / "a.mol";
    ASSERT_TRUE(writeMolecule(path, startUpSystem()));

    SpinSystem read;
    ASSERT_TRUE(read.setLabel(4, "N4"));
    ASSERT_TRUE(readMolecule(path, read).wasRead());
    EXPECT_EQ(read.spinCount(), 3);
    EXPECT_EQ(read.label(2), "C2");
    EXPECT_TRUE(read.isEmpty(4)) << "labels beyond the file's N are cleared";
    EXPECT_EQ(read.shiftPpm(1), 0.4000000059604645);
    EXPECT_EQ(read.shiftPpm(0), -0.5);
    EXPECT_EQ(read.couplingHz(2, 1), 140.0);
    EXPECT_EQ(read.nucleusConstant(2), 2515074.0) << "the reader rebuilds the derived tables";

    ASSERT_TRUE(writeMolecule(path, read));
    const std::string again = readBytes(path);
    EXPECT_NE(again.find("-0.5,0.400000005960464,0,\r\n"), std::string::npos) << again;

    SpinSystem third;
    ASSERT_TRUE(readMolecule(path, third).wasRead());
    expectSameSpins(read, third);
}

TEST(MoleculeFileRead, TheLaterOfTwoAsymmetricCouplingsWins)
{
    const ScratchDirectory dir;
    const auto path = dir.writeBytes("asym.mol", "2,14,2,\r\nH0,H1,\r\nH0,H1,\r\n1,2,\r\n0,10,20,0,\r\n"
                                                 "500,600,\r\n50,60,\r\nspare,\r\nspare,\r\nspare,\r\n");
    SpinSystem s;
    ASSERT_TRUE(readMolecule(path, s).wasRead());
    EXPECT_EQ(s.couplingHz(0, 1), 20.0);
    EXPECT_EQ(s.couplingHz(1, 0), 20.0);
    EXPECT_EQ(s.t1Ms(1), 600.0);
    EXPECT_EQ(s.t2Ms(0), 50.0);
}

TEST(MoleculeFileRead, FewerSpinsClearTheRestButKeepTheirRelaxationTimes)
{
    const ScratchDirectory dir;
    const auto path = dir.writeBytes("two.mol", "2,\nH0,C1,\nH0,C1,\n1,2,\n0,7,7,0,\n1,1,\n1,1,\n");
    SpinSystem s = startUpSystem();
    s.setT1Ms(2, 333.0);
    ASSERT_TRUE(readMolecule(path, s).wasRead())
        << "LF line ends, no spare lines and '2,' alone are accepted";
    EXPECT_EQ(s.spinCount(), 2);
    EXPECT_TRUE(s.isEmpty(2));
    EXPECT_EQ(s.couplingHz(1, 2), 0.0);
    EXPECT_EQ(s.t1Ms(2), 333.0);
    EXPECT_EQ(s.label(1), "C1");
}

TEST(MoleculeFileRead, SingleSpinFile)
{
    const ScratchDirectory dir;
    const auto path = dir.writeBytes("one.mol", "1,14,1,\r\nN0,\r\nN0,\r\n120,\r\n0,\r\n800,\r\n80,\r\n");
    SpinSystem s = startUpSystem();
    ASSERT_TRUE(readMolecule(path, s).wasRead());
    EXPECT_EQ(s.spinCount(), 1);
    EXPECT_EQ(s.label(0), "N0");
    EXPECT_EQ(s.channel(0), 2);
    EXPECT_TRUE(s.isEmpty(1));
}

TEST(MoleculeFileRead, LabelsAreRenamedAfterTheirSlot)
{
    const ScratchDirectory dir;
    const auto path =
        dir.writeBytes("labels.mol", "2,\r\nh5,C,\r\n,\r\n0,0,\r\n0,0,0,0,\r\n1,1,\r\n1,1,\r\n");
    SpinSystem s;
    ASSERT_TRUE(readMolecule(path, s).wasRead());
    EXPECT_EQ(s.label(0), "H0");
    EXPECT_EQ(s.label(1), "C1");
}

// Editors that save "UTF-8 with signature" put EF BB BF before the spin count.
TEST(MoleculeFileRead, SignatureOfAnEditorBeforeTheSpinCountIsSkipped)
{
    const ScratchDirectory dir;
    const auto path =
        dir.writeBytes("edited.mol", "\xEF\xBB\xBF"
                                     "2,14,2,\r\nH0,C1,\r\nH0,C1,\r\n1,50,\r\n0,7,7,0,\r\n1,1,\r\n1,1,\r\n");
    SpinSystem s = startUpSystem();
    ASSERT_TRUE(readMolecule(path, s).wasRead());
    EXPECT_EQ(s.spinCount(), 2);
    EXPECT_EQ(s.couplingHz(0, 1), 7.0);
}

TEST(MoleculeFileRead, MissingFileIsIgnoredSilently)
{
    const ScratchDirectory dir;
    SpinSystem s = startUpSystem();
    EXPECT_EQ(readMolecule(dir.path() / "nothing.mol", s).status, FileReadResult::Status::Missing);
    expectSameSpins(s, startUpSystem());
}

struct MalformedCase {
    const char* name;
    const char* content;
    const char* expectedInMessage;
};

class MoleculeFileMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MoleculeFileMalformed, IsRefusedWithTheLineNamedAndNothingChanges)
{
    const ScratchDirectory dir;
    const auto path = dir.writeBytes("bad.mol", GetParam().content);
    SpinSystem s = startUpSystem();
    s.setShiftPpm(0, 1.25);
    const SpinSystem before = s;
    const FileReadResult result = readMolecule(path, s);
    ASSERT_TRUE(result.wasRefused());
    EXPECT_NE(result.message.find("bad.mol"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(GetParam().expectedInMessage), std::string::npos) << result.message;
    expectSameSpins(s, before);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, MoleculeFileMalformed,
    ::testing::Values(
        MalformedCase{"Empty", "", "line 1"}, MalformedCase{"NoCommaAfterCount", "2\r\n", "line 1"},
        MalformedCase{"ZeroSpins", "0,14,0,\r\n", "outside 1 to 10"},
        MalformedCase{"ElevenSpins", "11,14,11,\r\n", "outside 1 to 10"},
        MalformedCase{"CountNotANumber", "x,14,\r\n", "not a number"},
        MalformedCase{"TruncatedAfterLabels", "2,\r\nH0,H1,\r\nH0,H1,\r\n", "line 4"},
        MalformedCase{"TooFewShifts", "2,\r\nH0,H1,\r\nH0,H1,\r\n1,\r\n0,0,0,0,\r\n1,1,\r\n1,1,\r\n",
                      "line 4"},
        MalformedCase{"LastShiftWithoutComma",
                      "2,\r\nH0,H1,\r\nH0,H1,\r\n1,2\r\n0,0,0,0,\r\n1,1,\r\n1,1,\r\n", "line 4"},
        MalformedCase{"CouplingNotANumber",
                      "2,\r\nH0,H1,\r\nH0,H1,\r\n1,2,\r\n0,abc,0,0,\r\n1,1,\r\n1,1,\r\n", "line 5, field 2"},
        MalformedCase{"UnknownNucleus", "2,\r\nH0,X1,\r\nH0,X1,\r\n1,2,\r\n0,0,0,0,\r\n1,1,\r\n1,1,\r\n",
                      "line 2"},
        MalformedCase{"ValueBeyondSinglePrecision", "1,\r\nH0,\r\nH0,\r\n1e300,\r\n0,\r\n1,\r\n1,\r\n",
                      "too large"},
        MalformedCase{"EmptyLabel",
                      "3,\r\nH0,,C2,\r\nH0,,C2,\r\n0,0,0,\r\n0,0,0,0,0,0,0,0,0,\r\n1,1,1,\r\n1,1,1,\r\n",
                      "line 2, field 2"},
        MalformedCase{"MissingT2Line", "1,\r\nH0,\r\nH0,\r\n1,\r\n0,\r\n1,\r\n", "line 7"},
        MalformedCase{"BinaryGarbage", "\x01\x02\xff\xfe,\x00\x00\r\n", "line 1"}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::model
