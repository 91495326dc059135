// The pulse calibration and Ernst-angle calculators: the reference points of the power law and of
// the Ernst condition, round trips between the boxes, and the entries that must leave every box
// as it was (text that is not a number, and inputs for which the formulas have no sound value).
#include "pulses/pulse_calculators.h"
#include "util/numeric_text.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace velmora::pulses {
namespace {

CalibrationBoxes startUpCalibration()
{
    return {"60", "", "50000"};
}

double numberIn(const std::string& text)
{
    const std::optional<double> value = util::parseNumber(text);
    EXPECT_TRUE(value.has_value()) << "not a number: \"" << text << "\"";
    return value.value_or(std::nan(""));
}

// ----- Pulse calibration ---------------------------------------------------------------------------

TEST(PulseCalibrationCalculator, StartUpPowerAndFieldAgreeOnAFiveMicrosecondPulse)
{
    const std::optional<CalibrationBoxes> fromPower = onCalibrationEdited(kPowerBox, startUpCalibration());
    ASSERT_TRUE(fromPower);
    EXPECT_EQ(fromPower->powerDb, "60");
    EXPECT_EQ(fromPower->pulseUs, "5.00");
    EXPECT_EQ(fromPower->fieldHz, "50000.0");

    const std::optional<CalibrationBoxes> fromField = onCalibrationEdited(kFieldBox, startUpCalibration());
    ASSERT_TRUE(fromField);
    EXPECT_EQ(fromField->fieldHz, "50000");
    EXPECT_EQ(fromField->pulseUs, "5.0");
    EXPECT_EQ(fromField->powerDb, "60.00");
}

TEST(PulseCalibrationCalculator, TwentyDecibelsLessGiveATenTimesLongerPulse)
{
    const std::optional<CalibrationBoxes> boxes = onCalibrationEdited(kPowerBox, {"40", "", "50000"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->powerDb, "40");
    EXPECT_EQ(boxes->pulseUs, "50.00");
    EXPECT_EQ(boxes->fieldHz, "5000.0");
}

TEST(PulseCalibrationCalculator, PulseLengthGivesPowerAndField)
{
    const std::optional<CalibrationBoxes> boxes = onCalibrationEdited(kPulseBox, {"60", "10", "50000"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->pulseUs, "10");
    EXPECT_EQ(boxes->powerDb, "53.98");
    EXPECT_EQ(boxes->fieldHz, "25000.0");
}

TEST(PulseCalibrationCalculator, PowerFromANegativePulseUsesItsLength)
{
    // The power depends on |pulse| only; the field keeps the sign of the pulse.
    const std::optional<CalibrationBoxes> boxes = onCalibrationEdited(kPulseBox, {"60", "-10", "50000"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->powerDb, "53.98");
    EXPECT_EQ(boxes->fieldHz, "-25000.0");
}

TEST(PulseCalibrationCalculator, FieldAndPowerRoundTripThroughThePulse)
{
    for (const char* field : {"1000", "12500", "33333", "250000"}) {
        const std::optional<CalibrationBoxes> fromField = onCalibrationEdited(kFieldBox, {"", "", field});
        ASSERT_TRUE(fromField) << field;
        const std::optional<CalibrationBoxes> fromPower = onCalibrationEdited(kPowerBox, *fromField);
        ASSERT_TRUE(fromPower) << field;
        // The power is printed with two decimals: 0.005 dB is a relative field error below 6e-4.
        EXPECT_NEAR(numberIn(fromPower->fieldHz) / numberIn(field), 1.0, 6e-4) << field;
    }
}

TEST(PulseCalibrationCalculator, TextThatIsNotANumberChangesNothing)
{
    for (const char* text : {"", "abc", "1,5", "60 dB", "."}) {
        EXPECT_FALSE(onCalibrationEdited(kPowerBox, {text, "7", "8"})) << text;
        EXPECT_FALSE(onCalibrationEdited(kPulseBox, {"60", text, "8"})) << text;
        EXPECT_FALSE(onCalibrationEdited(kFieldBox, {"60", "7", text})) << text;
    }
}

TEST(PulseCalibrationCalculator, UndefinedEntriesChangeNothing)
{
    EXPECT_FALSE(onCalibrationEdited(kPulseBox, {"60", "0", "50000"}));
    EXPECT_FALSE(onCalibrationEdited(kFieldBox, {"60", "5", "0"}));
    EXPECT_FALSE(onCalibrationEdited(kFieldBox, {"60", "5", "-0.0"}));
    // A power so low that the pulse length overflows.
    EXPECT_FALSE(onCalibrationEdited(kPowerBox, {"-1e6", "5", "50000"}));
    // A power so high that the pulse length underflows to zero.
    EXPECT_FALSE(onCalibrationEdited(kPowerBox, {"1e6", "5", "50000"}));
    EXPECT_FALSE(onCalibrationEdited(3, startUpCalibration()));
    EXPECT_FALSE(onCalibrationEdited(-1, startUpCalibration()));
}

// ----- Ernst angle ---------------------------------------------------------------------------------

TEST(ErnstAngleCalculator, RepetitionTimeEqualToT1GivesArccosOfOneOverE)
{
    const std::optional<ErnstBoxes> boxes = onErnstEdited(kRepetitionTimeBox, {"", "1000", "1000"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->angle, "68.42");
    EXPECT_EQ(boxes->trMs, "1000");
    EXPECT_EQ(boxes->t1Ms, "1000");
}

TEST(ErnstAngleCalculator, AngleGivesTheRepetitionTimeBack)
{
    const std::optional<ErnstBoxes> boxes = onErnstEdited(kAngleBox, {"68.42", "", "1000"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->angle, "68.42");
    // The angle was printed to 0.005 degrees; near 68 degrees TR changes by 44 ms per degree.
    EXPECT_NEAR(numberIn(boxes->trMs), 1000.0, 0.25);
}

TEST(ErnstAngleCalculator, EditingT1RecomputesTheAngleFromTheRepetitionTime)
{
    // TR = T1 ln 2 gives cos(angle) = 1/2.
    const std::optional<ErnstBoxes> boxes = onErnstEdited(kT1Box, {"10", "693.147180559945", "1000"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->angle, "60.00");
    EXPECT_EQ(boxes->trMs, "693.147180559945");
}

TEST(ErnstAngleCalculator, LongRepetitionTimesApproachNinetyDegrees)
{
    const std::optional<ErnstBoxes> boxes = onErnstEdited(kRepetitionTimeBox, {"", "1e6", "1"});
    ASSERT_TRUE(boxes);
    EXPECT_EQ(boxes->angle, "90.00");
}

TEST(ErnstAngleCalculator, TextThatIsNotANumberChangesNothing)
{
    for (const char* text : {"", "x", "1,5", "--1"}) {
        EXPECT_FALSE(onErnstEdited(kAngleBox, {text, "100", "1000"})) << text;
        EXPECT_FALSE(onErnstEdited(kRepetitionTimeBox, {"30", text, "1000"})) << text;
        EXPECT_FALSE(onErnstEdited(kT1Box, {"30", "100", text})) << text;
        // The other input of the formula is not a number either.
        EXPECT_FALSE(onErnstEdited(kAngleBox, {"30", "100", text})) << text;
        EXPECT_FALSE(onErnstEdited(kRepetitionTimeBox, {"30", "100", text})) << text;
        EXPECT_FALSE(onErnstEdited(kT1Box, {"30", text, "1000"})) << text;
    }
}

TEST(ErnstAngleCalculator, UndefinedEntriesChangeNothing)
{
    // Angles without a positive cosine below 1.
    for (const char* angle : {"90", "120", "0", "-30", "400"})
        EXPECT_FALSE(onErnstEdited(kAngleBox, {angle, "100", "1000"})) << angle;
    // TR = 0 gives E = 1; a negative TR gives E > 1; a TR negligible against T1 rounds E to 1.
    for (const char* tr : {"0", "-100", "1e-300"})
        EXPECT_FALSE(onErnstEdited(kRepetitionTimeBox, {"30", tr, "1000"})) << tr;
    // T1 = 0 divides by zero; a negative T1 has no meaning.
    for (const char* t1 : {"0", "-1000"}) {
        EXPECT_FALSE(onErnstEdited(kT1Box, {"30", "100", t1})) << t1;
        EXPECT_FALSE(onErnstEdited(kAngleBox, {"30", "100", t1})) << t1;
    }
    EXPECT_FALSE(onErnstEdited(3, {"30", "100", "1000"}));
}

}  // namespace
}  // namespace velmora::pulses
