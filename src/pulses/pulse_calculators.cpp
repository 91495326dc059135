// Pulse calibration and Ernst-angle calculators. The formulas keep the classic forms (a logarithm
// ratio for the decibels, an arctangent for the arccosine) so that the printed digits match the
// tables users already have.
#include "pulses/pulse_calculators.h"

#include "util/number_format.h"
#include "util/numeric_text.h"

#include <cmath>
#include <optional>

namespace velmora::pulses {

namespace {

constexpr double kPi = 3.14159265358979;
// A 90-degree pulse lasts this long at the reference power (a full turn takes 20 us at 60 dB).
constexpr double kReferencePulseUs = 5.0;
constexpr double kReferencePowerDb = 60.0;
// Field strength in Hz = this / 90-degree pulse length in us: a quarter turn per pulse.
constexpr double kQuarterTurnUsHz = 1.0e6 / 4.0;

bool allFinite(double a, double b)
{
    return std::isfinite(a) && std::isfinite(b);
}

// Power in dB that gives a 90-degree pulse of |pulseUs|; the sign of the pulse does not matter.
double powerForPulse(double pulseUs)
{
    return kReferencePowerDb - (20.0 / std::log(10.0)) * std::log(std::fabs(pulseUs) / kReferencePulseUs);
}

}  // namespace

std::optional<CalibrationBoxes> onCalibrationEdited(int box, const CalibrationBoxes& boxes)
{
    CalibrationBoxes result = boxes;
    switch (box) {
    case kPowerBox: {
        const std::optional<double> powerDb = util::parseNumber(boxes.powerDb);
        if (!powerDb)
            return std::nullopt;
        const double pulseUs = kReferencePulseUs * std::pow(10.0, (kReferencePowerDb - *powerDb) / 20.0);
        if (pulseUs == 0.0)
            return std::nullopt;
        const double fieldHz = kQuarterTurnUsHz / pulseUs;
        if (!allFinite(pulseUs, fieldHz))
            return std::nullopt;
        result.pulseUs = util::formatPattern(pulseUs, "#0.00");
        result.fieldHz = util::formatPattern(fieldHz, "#0.0");
        return result;
    }
    case kPulseBox: {
        const std::optional<double> pulseUs = util::parseNumber(boxes.pulseUs);
        if (!pulseUs || *pulseUs == 0.0)
            return std::nullopt;
        const double powerDb = powerForPulse(*pulseUs);
        const double fieldHz = kQuarterTurnUsHz / *pulseUs;
        if (!allFinite(powerDb, fieldHz))
            return std::nullopt;
        result.powerDb = util::formatPattern(powerDb, "#0.00");
        result.fieldHz = util::formatPattern(fieldHz, "#0.0");
        return result;
    }
    case kFieldBox: {
        const std::optional<double> fieldHz = util::parseNumber(boxes.fieldHz);
        if (!fieldHz || *fieldHz == 0.0)
            return std::nullopt;
        const double pulseUs = kQuarterTurnUsHz / *fieldHz;
        if (pulseUs == 0.0)
            return std::nullopt;
        const double powerDb = powerForPulse(pulseUs);
        if (!allFinite(pulseUs, powerDb))
            return std::nullopt;
        result.pulseUs = util::formatPattern(pulseUs, "#0.0");
        result.powerDb = util::formatPattern(powerDb, "#0.00");
        return result;
    }
    default:
        return std::nullopt;
    }
}

std::optional<ErnstBoxes> onErnstEdited(int box, const ErnstBoxes& boxes)
{
    if (box != kAngleBox && box != kRepetitionTimeBox && box != kT1Box)
        return std::nullopt;
    const std::optional<double> t1Ms = util::parseNumber(boxes.t1Ms);
    // The edited box must be a number; the other input the formula needs must be one too.
    const std::string& edited = box == kAngleBox            ? boxes.angle
                                : box == kRepetitionTimeBox ? boxes.trMs
                                                            : boxes.t1Ms;
    if (!util::isNumeric(edited) || !t1Ms || *t1Ms <= 0.0)
        return std::nullopt;

    ErnstBoxes result = boxes;
    if (box == kAngleBox) {
        const double angleDeg = *util::parseNumber(boxes.angle);
        if (!(angleDeg > 0.0 && angleDeg < 90.0))
            return std::nullopt;
        const double trMs = -*t1Ms * std::log(std::cos(angleDeg * kPi / 180.0));
        if (!std::isfinite(trMs))
            return std::nullopt;
        result.trMs = util::formatPattern(trMs, "#0.00");
        return result;
    }

    const std::optional<double> trMs = util::parseNumber(boxes.trMs);
    if (!trMs || *trMs <= 0.0)
        return std::nullopt;
    const double e = std::exp(-*trMs / *t1Ms);
    const double sine = std::sqrt(1.0 - e * e);
    // TR so short against T1 that E rounds to 1: the angle would come from a division by zero.
    if (!(sine > 0.0))
        return std::nullopt;
    const double angleDeg = (std::atan(-e / sine) + 2.0 * std::atan(1.0)) / kPi * 180.0;
    if (!std::isfinite(angleDeg))
        return std::nullopt;
    result.angle = util::formatPattern(angleDeg, "#0.00");
    return result;
}

}  // namespace velmora::pulses
