// The parameters of the relaxation-dispersion (exchange) experiment. They travel with the sequence
// file, so they are kept here, with the model, even while the exchange mode is not in use.
#pragma once

#include <array>
#include <string>

namespace velmora::model {

struct ExchangeSettings {
    // The values the boxes Text1(0..11) and Text1(13) show in exchange mode, in that order.
    enum Value {
        Tp,
        Tcp,
        Kex,
        RfOffset,
        HalfShift,
        Necho,
        W1,
        Pa,
        T1SiteA,
        T1SiteB,
        T2SiteA,
        T2SiteB,
        Angle
    };
    static constexpr int kValueCount = 13;

    std::array<double, kValueCount> values{625, 2000, 100, 0, 50, 1, 1000, 0.5, 1000, 1000, 100, 100, 45};
    int lastRunIndex = 11;          // last run of the series
    std::string phase = "00";       // phase digits of the echo pulses
    double seriesValue = 1.0;       // stored with the series, used by the experiment
    std::string sweptName = "Kex";  // first swept parameter (Label3(15) in exchange mode)
    std::string shapedPulse;        // pulse file of the echo train; empty = hard pulse
    std::string startMagnetisation = "Ix";
    std::string secondSweptName = "ch_shift";  // Label3(17) in exchange mode
    double secondSeriesValue = 0.0;
    int secondSeriesCount = 0;

    bool operator==(const ExchangeSettings&) const = default;
};

}  // namespace velmora::model
