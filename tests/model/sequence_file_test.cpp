#include "model/sequence_file.h"
#include "support/scratch_directory.h"
#include "util/text_file.h"

#include <gtest/gtest.h>

namespace velmora::model {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

// The start-up sequence and boxes, as version 14 stores them.
const char* const kStartUpSequence[] = {
    "11,States,d1,2,H1, "
    "1,1,2,10,10,10,2,6,10,10,20,14,0,0,0,4,170,100,127,400,637.5,20,1000,10,31,256,500,10,,"
    "1000,3000,16,100,1,0.1,16,1,0,ahs1p256_32_32.RF,1,1,1,0,0,0,0,0,254,Gauss,Gauss,Gauss,Add,",
    "0,5,10,2.5,0,0,0,0,0,0,",
    "0,1,4,11,0,0,0,0,0,0,",
    "0,1,0.5,2,0,0,0,2,0.5,1,",
    "01,0,0,0,0,0,",
    "s1_ttt.RF,s2_ttt.RF,s3_ttt.RF,s4_ttt.RF,s5_ttt.RF,s6_ttt.RF,s7_ttt.RF,s8_ttt.RF,s9_ttt.RF,s10_ttt.RF,"
    "s1_ttt.GRD,s2_ttt.GRD,s3_ttt.GRD,s4_ttt.GRD,s5_ttt.GRD,s6_ttt.GRD,s7_ttt.GRD,s8_ttt.GRD,s9_ttt.GRD,s10_"
    "ttt.GRD,",
    "0,0,0,-2,-132,0,-2,-132,0,0,-132,0,",
    "0,0,0,4,1,0,0,0,0,1,0,0,",
    "-41,-42,-43,-41,-42,-43,-41,-42,-43,-41,-42,-43,",
    "-31,-32,-33,-31,-32,-33,-31,-32,-33,-31,-32,-33,",
    "0,0,0,0,",
    "-12,-11,0,0,",
    "60,60,60,60,60,60,60,60,60,60,",
    "0,0,0,0,0,0,0,0,0,0,",
    "2000,2000,2000,2000,2000,2000,2000,2000,2000,2000,0,0,0,0,0,0,0,0,0,0,",
    "625,2000,100,0,50,1,1000,0.5,1000,1000,100,100,12,45,",
    "11,00,1,Kex,,Ix,ch_shift,0,0,",
    "0,0,256,32,0,1,1,0.001,0,zv,,ttt,0,y,1,1,",
};

struct Document {
    PulseSequence sequence;
    Controls controls;
    ExchangeSettings exchange;

    SequenceDocument view() { return {sequence, controls, exchange}; }
};

std::string joinedWithCrLf(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\r\n";
    return text;
}

std::string startUpFileText()
{
    std::string text;
    for (const char* line : kStartUpSequence)
        text += std::string(line) + "\r\n";
    return text;
}

void expectSameSequence(const PulseSequence& a, const PulseSequence& b)
{
    ASSERT_EQ(a.stepCount(), b.stepCount());
    EXPECT_EQ(a.cycleStart(), b.cycleStart());
    EXPECT_EQ(a.cycleEnd(), b.cycleEnd());
    EXPECT_EQ(a.pointStep(), b.pointStep());
    EXPECT_EQ(a.acquisitionStep(), b.acquisitionStep());
    EXPECT_EQ(a.arrayedIndex(), b.arrayedIndex());
    EXPECT_EQ(a.arrayedName(), b.arrayedName());
    for (int m = 0; m < element::kCount; ++m) {
        EXPECT_EQ(a.elements().name(m), b.elements().name(m)) << "element " << m;
        EXPECT_EQ(a.elements().value(m), b.elements().value(m)) << "element " << m;
    }
    for (int s = 0; s < PulseSequence::kStepSlots; ++s) {
        const SequenceStep& x = a.step(s);
        const SequenceStep& y = b.step(s);
        EXPECT_EQ(x.delay, y.delay) << "step " << s;
        EXPECT_EQ(x.gradient, y.gradient) << "step " << s;
        for (int k = 0; k < kChannelCount; ++k) {
            EXPECT_EQ(x.channels[k].content, y.channels[k].content) << "step " << s << " channel " << k;
            EXPECT_EQ(x.channels[k].phase, y.channels[k].phase) << "step " << s << " channel " << k;
            EXPECT_EQ(x.channels[k].power, y.channels[k].power) << "step " << s << " channel " << k;
            EXPECT_EQ(x.channels[k].offset, y.channels[k].offset) << "step " << s << " channel " << k;
        }
    }
}

TEST(SequenceFileWrite, StartUpStateIsWrittenAsVersion14ByteForByte)
{
    const ScratchDirectory dir;
    Document d;
    const auto path = dir.path() / "start.psq";
    ASSERT_TRUE(writeSequence(path, d.sequence, d.controls, d.exchange));
    EXPECT_EQ(readBytes(path), startUpFileText());
}

TEST(SequenceFileWrite, TextsWithCommasAreRefusedAndNothingIsWritten)
{
    const ScratchDirectory dir;
    Document d;
    d.controls.setText(ctl::SpectralWidth, "4,000");
    const auto path = dir.path() / "comma.psq";
    const util::Outcome result = writeSequence(path, d.sequence, d.controls, d.exchange);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.message().find("Text14(6)"), std::string::npos) << result.message();
    EXPECT_FALSE(util::fileExists(path));
}

TEST(SequenceFileRoundTrip, AnEditedSequenceReadsBackIntoTheSameState)
{
    const ScratchDirectory dir;
    dir.writeBytes("sinc.rf", "0 1023 1\r\n");
    dir.writeBytes("ramp.GRD", "1\r\n");
    Document written;
    PulseSequence& q = written.sequence;
    ASSERT_TRUE(q.insertStep(1));
    ASSERT_TRUE(q.setContent(2, 2, "n_sinc.rf"));
    ASSERT_TRUE(q.setGradient(3, "n_ramp.GRD"));
    ASSERT_TRUE(q.setPower(1, 0, "r4"));
    ASSERT_TRUE(q.setOffset(3, 2, "o7"));
    ASSERT_TRUE(q.setDelay(2, "d9"));
    ASSERT_TRUE(q.setPhase(2, 1, 8));
    q.elements().setValue(3, 12.345678901234);
    q.elements().setValue(37, -250.5);
    q.setCycleStart(1);
    q.setCycleEnd(2);
    q.elements().setValue(0, 3);
    q.setArrayedParameter("p3");
    ASSERT_TRUE(q.toggleAcquisition(2));
    written.controls.setText(ctl::SpectralWidth, "2500");
    written.controls.setChecked(ctl::T2Relaxation, true);
    written.controls.setCaption(ctl::ArrayMethod, "Mult");
    written.controls.setItems(ctl::PhaseCycle, {"0213", "01", "0", "2", "0", "13"});
    written.controls.setText({"Text4", 9}, "zvn");
    written.exchange.values[ExchangeSettings::Pa] = 0.75;
    written.exchange.sweptName = "tcp";
    written.exchange.secondSeriesCount = 4;

    const auto path = dir.path() / "edited.psq";
    ASSERT_TRUE(writeSequence(path, written.sequence, written.controls, written.exchange));
    Document read;
    ASSERT_TRUE(readSequence(path, dir.path(), read.view()).wasRead());

    q.setPointStep(q.stepCount());
    expectSameSequence(read.sequence, written.sequence);
    EXPECT_EQ(read.controls.text(ctl::SpectralWidth), "2500");
    EXPECT_TRUE(read.controls.checked(ctl::T2Relaxation));
    EXPECT_EQ(read.controls.caption(ctl::ArrayMethod), "Mult");
    EXPECT_EQ(read.controls.caption(ctl::ArrayedParameter), "p3");
    EXPECT_EQ(read.controls.at(ctl::PhaseCycle).items, written.controls.at(ctl::PhaseCycle).items);
    EXPECT_EQ(read.controls.text({"Text4", 9}), "zvn");
    EXPECT_EQ(read.controls.text(ctl::CycleCountBox), "3");
    EXPECT_EQ(read.exchange, written.exchange);
}

TEST(SequenceFileRead, PointStepBecomesTheLastStepAndScansShowOne)
{
    const ScratchDirectory dir;
    std::string text = startUpFileText();
    text.replace(text.find(", 1,1,"), 6, ",4,1,");
    const auto path = dir.writeBytes("p.psq", text);
    Document d;
    d.sequence.setPointStep(0);
    d.controls.setText(ctl::ScanCount, "8");
    ASSERT_TRUE(readSequence(path, dir.path(), d.view()).wasRead());
    EXPECT_EQ(d.sequence.pointStep(), 2);
    EXPECT_EQ(d.controls.text(ctl::ScanCount), "1") << "field 7 always replaces field 6";
}

TEST(SequenceFileRead, ShapedNamesAreTakenOnlyWhenTheirFileIsPresent)
{
    const ScratchDirectory dir;
    dir.writeBytes("here.rf", "0 1023 1\r\n");
    std::string text = startUpFileText();
    text.replace(text.find("s1_ttt.RF"), 9, "s1_here.rf");
    text.replace(text.find("s2_ttt.RF"), 9, "s2_gone.rf");
    text.replace(text.find("s10_ttt.RF"), 10, "s10_here.rf");
    text.replace(text.find("s3_ttt.RF"), 9, "s3_" + (dir.path() / "here.rf").string());
    const auto path = dir.writeBytes("shapes.psq", text);
    Document d;
    d.sequence.elements().setName(52, "s2_before.rf");
    ASSERT_TRUE(readSequence(path, dir.path(), d.view()).wasRead());
    EXPECT_EQ(d.sequence.elements().name(51), "s1_here.rf");
    EXPECT_EQ(d.sequence.elements().name(52), "s2_before.rf") << "a missing shape keeps the slot's name";
    EXPECT_EQ(d.sequence.elements().name(60), "s10_here.rf");
    EXPECT_EQ(d.sequence.elements().name(53), "s3_ttt.RF")
        << "a name with a folder is never taken, even when it exists";
}

TEST(SequenceFileVersions, Version3SkipsTheCycleAndEverythingAfterField7)
{
    const ScratchDirectory dir;
    const std::string text = joinedWithCrLf(
        {"13,TPPI,d3,0.25,C13,4,1,1,10,10,10,2,6,10,10,20,3,", "0,7,0,0,0,0,0,0,0,0,", "0,0,0,0,0,0,0,0,0,0,",
         "0,0,9,0,0,0,0,0,0,0,", "0,1,2,3,0,0,",
         "s1_x.rf,s2_x.rf,s3_x.rf,s4_x.rf,s5_x.rf,s6_x.rf,s7_x.rf,s8_x.rf,s9_x.rf,s10_x.rf,"
         "s1_x.GRD,s2_x.GRD,s3_x.GRD,s4_x.GRD,s5_x.GRD,s6_x.GRD,s7_x.GRD,s8_x.GRD,s9_x.GRD,s10_x.GRD,",
         "0,0,0,-2,0,0,0,0,0,", "0,0,0,1,0,0,0,0,0,", "-41,-42,-43,-41,-42,-43,-41,-42,-43,",
         "-31,-32,-33,-31,-32,-33,-31,-32,-33,", "0,0,0,", "-13,0,0,", "50,60,60,60,60,60,60,60,60,60,",
         "0,0,0,0,0,0,0,0,0,0,", "100,2000,2000,2000,2000,2000,2000,2000,2000,2000,0,0,0,0,0,0,0,0,0,0,"});
    const auto path = dir.writeBytes("v3.psq", text);
    Document d;
    d.sequence.elements().setValue(0, 5);
    d.controls.setText(ctl::SpectralWidth, "999");
    d.controls.setChecked(ctl::T1Relaxation, true);
    d.controls.setCaption(ctl::ArrayMethod, "Mult");
    d.exchange.phase = "0123";
    d.controls.setText({"Text4", 2}, "128");

    ASSERT_TRUE(readSequence(path, dir.path(), d.view()).wasRead());
    EXPECT_EQ(d.sequence.stepCount(), 1);
    EXPECT_EQ(d.sequence.arrayedName(), "d3");
    EXPECT_EQ(d.controls.text(ctl::IndirectMethod), "TPPI");
    EXPECT_EQ(d.controls.text(ctl::DetectionChannel), "C13");
    EXPECT_EQ(d.sequence.cycleCount(), 0.0);
    EXPECT_EQ(d.controls.text(ctl::CycleCountBox), "0");
    EXPECT_EQ(d.controls.text(ctl::SpectralWidth), "999") << "boxes are not in a version-3 file";
    EXPECT_TRUE(d.controls.checked(ctl::T1Relaxation));
    EXPECT_EQ(d.controls.caption(ctl::ArrayMethod), "Mult");
    EXPECT_EQ(d.exchange.phase, "0123") << "exchange lines come with version 11";
    EXPECT_EQ(d.controls.text({"Text4", 2}), "128");
    EXPECT_EQ(d.sequence.elements().value(2), 7.0);
    EXPECT_EQ(d.sequence.elements().value(13), 9.0);
    EXPECT_EQ(d.sequence.elements().value(41), 50.0);
    EXPECT_EQ(d.sequence.step(1).channels[0].content, -2);
    EXPECT_EQ(d.sequence.step(1).channels[0].phase, 1);
    EXPECT_EQ(d.sequence.step(0).delay, -13.0);
    EXPECT_EQ(d.controls.at(ctl::PhaseCycle).items[3], "3");
}

TEST(SequenceFileVersions, Version10LeavesExchangeAndGeneratorAlone)
{
    const ScratchDirectory dir;
    std::string text = startUpFileText();
    text.replace(text.find(",20,14,"), 7, ",20,10,");
    const auto path = dir.writeBytes("v10.psq", text);
    Document d;
    d.exchange.values[ExchangeSettings::Kex] = 777;
    d.exchange.sweptName = "Pa";
    d.controls.setText({"Text4", 0}, "3");
    ASSERT_TRUE(readSequence(path, dir.path(), d.view()).wasRead());
    EXPECT_EQ(d.exchange.values[ExchangeSettings::Kex], 777);
    EXPECT_EQ(d.exchange.sweptName, "Pa");
    EXPECT_EQ(d.controls.text({"Text4", 0}), "3");
    EXPECT_EQ(d.controls.text(ctl::SpectralWidth), "400") << "boxes come with version 5";
}

TEST(SequenceFileVersions, Version12ReadsSixExchangeSettings)
{
    const ScratchDirectory dir;
    std::string text = startUpFileText();
    text.replace(text.find(",20,14,"), 7, ",20,12,");
    text.replace(text.find("11,00,1,Kex,,Ix,ch_shift,0,0,"), 29, "9,02,2,Pa,p.rf,Iz,");
    const auto path = dir.writeBytes("v12.psq", text);
    Document d;
    d.exchange.secondSweptName = "w1";
    ASSERT_TRUE(readSequence(path, dir.path(), d.view()).wasRead());
    EXPECT_EQ(d.exchange.lastRunIndex, 9);
    EXPECT_EQ(d.exchange.shapedPulse, "p.rf");
    EXPECT_EQ(d.exchange.startMagnetisation, "Iz");
    EXPECT_EQ(d.exchange.secondSweptName, "w1");
}

TEST(SequenceFileVersions, OtherSectionSizesPlaceTheFieldsByTheHeader)
{
    const ScratchDirectory dir;
    // Five hard pulses: the delays start at element 6, the gradients at 16, the offsets at 26,
    // the powers at 36, the shaped elements at 46.
    std::string text = joinedWithCrLf(
        {"11,States,d1,2,H1,1,1,1,5,10,10,2,6,10,10,20,14,0,0,0,4,170,100,127,400,637.5,20,1000,10,31,256,"
         "500,10,,"
         "1000,3000,1.5,100,-2.6,0.1,16,1,0,x,1,1,1,0,0,0,0,0,254,Gauss,Gauss,Gauss,Add,",
         "1,2,3,4,5,", "21,22,23,24,25,26,27,28,29,30,", "11,12,13,14,15,16,17,18,19,20,", "0,0,0,0,0,0,",
         ",,,,,,,,,,,,,,,,,,,,", "0,0,0,0,0,0,0,0,0,", "0,0,0,0,0,0,0,0,0,", "0,0,0,0,0,0,0,0,0,",
         "0,0,0,0,0,0,0,0,0,", "0,0,0,", "0,0,0,", "41,42,43,44,45,46,47,48,49,50,",
         "31,32,33,34,35,36,37,38,39,40,", "51,52,53,54,55,56,57,58,59,60,61,62,63,64,65,66,67,68,69,70,",
         "625,2000,100,0,50,1,1000,0.5,1000,1000,100,100,12,45,", "11,00,1,Kex,,Ix,ch_shift,0,0,",
         "0,0,256,32,0,1,1,0.001,0,zv,,ttt,0,y,1,1,"});
    const auto path = dir.writeBytes("a5.psq", text);
    Document d;
    ASSERT_TRUE(readSequence(path, dir.path(), d.view()).wasRead());
    const ElementTable& e = d.sequence.elements();
    EXPECT_EQ(e.value(5), 5.0);
    EXPECT_EQ(e.value(6), 11.0) << "delays start after five pulses";
    EXPECT_EQ(e.value(16), 21.0) << "gradients follow the delays";
    EXPECT_EQ(e.value(26), 31.0);
    EXPECT_EQ(e.value(36), 41.0);
    EXPECT_EQ(e.value(46), 51.0);
    EXPECT_EQ(e.value(65), 70.0);
    EXPECT_EQ(e.value(66), 0.0) << "beyond the shaped section nothing is written";
    EXPECT_EQ(e.value(10), 15.0);
}

struct MalformedHeader {
    const char* name;
    const char* from;
    const char* to;
    const char* expectedInMessage;
};

class SequenceFileMalformed : public ::testing::TestWithParam<MalformedHeader> {};

TEST_P(SequenceFileMalformed, IsRefusedWithTheLineNamedAndNothingChanges)
{
    const ScratchDirectory dir;
    std::string text = startUpFileText();
    const std::size_t at = text.find(GetParam().from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, std::string(GetParam().from).size(), GetParam().to);
    const auto path = dir.writeBytes("bad.psq", text);

    Document d;
    ASSERT_TRUE(d.sequence.insertStep(0));
    d.controls.setText(ctl::PointCount, "1024");
    d.exchange.phase = "13";
    const Document before = d;
    const FileReadResult result = readSequence(path, dir.path(), d.view());
    ASSERT_TRUE(result.wasRefused());
    EXPECT_NE(result.message.find("bad.psq"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(GetParam().expectedInMessage), std::string::npos) << result.message;
    expectSameSequence(d.sequence, before.sequence);
    EXPECT_EQ(d.controls.text(ctl::PointCount), "1024");
    EXPECT_EQ(d.controls.at(ctl::PhaseCycle), before.controls.at(ctl::PhaseCycle));
    EXPECT_EQ(d.exchange, before.exchange);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, SequenceFileMalformed,
    ::testing::Values(
        MalformedHeader{"StepCountBeyondTheTable", "H1, 1,1,2,", "H1, 1,1,60,", "step count"},
        MalformedHeader{"NegativeStepCount", "H1, 1,1,2,", "H1, 1,1,-1,", "step count"},
        MalformedHeader{"FourChannels", ",10,10,10,2,6,", ",10,10,10,3,6,", "channel bound"},
        MalformedHeader{"SevenPhaseRows", ",10,10,10,2,6,", ",10,10,10,2,7,", "phase-cycle rows"},
        MalformedHeader{"SectionsOverflowTheTable", ",10,10,20,14,", ",10,10,120,14,", "section"},
        MalformedHeader{"ArrayedIndexOutsideTheTable", "11,States,", "134,States,",
                        "arrayed-parameter index"},
        MalformedHeader{"StepCountNotANumber", "H1, 1,1,2,", "H1, 1,1,two,", "not a number"},
        MalformedHeader{"TruncatedHeader", ",254,Gauss,Gauss,Gauss,Add,", ",254,Gauss,", "line 1"},
        MalformedHeader{"MissingPhaseCodes", "0,0,0,4,1,0,0,0,0,1,0,0,", "0,0,0,4,1,0,", "line 8"},
        MalformedHeader{"PhaseCodeBeyondF9", "0,0,0,4,1,0,", "0,0,0,14,1,0,", "phase code"},
        MalformedHeader{"ContentNamesNoElement", "0,0,0,-2,-132,", "0,0,0,-2,-500,", "names no element"},
        MalformedHeader{"ContentAtTheLowestInteger", "0,0,0,-2,-132,", "0,0,0,-2,-2147483648,",
                        "names no element"},
        MalformedHeader{"DelayNamesNoElement", "-12,-11,0,0,", "-12,-900,0,0,", "names no element"},
        MalformedHeader{"CycleStartBeyondTheTable", ",20,14,0,0,0,", ",20,14,99,0,0,", "cycle start"},
        MalformedHeader{"CycleCountThatNeverEnds", ",20,14,0,0,0,", ",20,14,0,0,1e10,",
                        "the cycle count 10000000000 is larger than 100000"},
        MalformedHeader{"CycleCountBeyondFloat", ",20,14,0,0,0,", ",20,14,0,0,3.4e38,", "cycle count"},
        MalformedHeader{"GeneratorLineMissing", "0,0,256,32,0,1,1,0.001,0,zv,,ttt,0,y,1,1,\r\n", "",
                        "line 18"},
        MalformedHeader{"ExchangeValueNotANumber", "625,2000,", "625,abc,", "line 16"}),
    [](const ::testing::TestParamInfo<MalformedHeader>& info) { return std::string(info.param.name); });

TEST(SequenceFileRead, MissingFileChangesNothing)
{
    const ScratchDirectory dir;
    Document d;
    d.sequence.setPointStep(0);
    EXPECT_EQ(readSequence(dir.path() / "none.psq", dir.path(), d.view()).status,
              FileReadResult::Status::Missing);
    EXPECT_EQ(d.sequence.pointStep(), 0);
}

TEST(SequenceFileRead, ChangedControlsAreNotifiedOnlyAfterTheWholeFileWasRead)
{
    const ScratchDirectory dir;
    std::string text = startUpFileText();
    text.replace(text.find(",400,637.5,"), 11, ",800,637.5,");
    const auto good = dir.writeBytes("good.psq", text);
    const auto bad = dir.writeBytes("bad.psq", text.substr(0, text.size() / 2));
    Document d;
    std::vector<std::string> notified;
    d.controls.setChangeListener([&](ControlId id) { notified.push_back(Controls::nameOf(id)); });
    ASSERT_TRUE(readSequence(bad, dir.path(), d.view()).wasRefused());
    EXPECT_TRUE(notified.empty());
    ASSERT_TRUE(readSequence(good, dir.path(), d.view()).wasRead());
    EXPECT_EQ(notified, (std::vector<std::string>{"Text14(1)", "Text14(6)"})) << "scans \" 1\" became \"1\"";
}

}  // namespace
}  // namespace velmora::model
