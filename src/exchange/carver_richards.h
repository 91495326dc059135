// The exact two-site expression for the CPMG relaxation rate (Carver and Richards), and the fit of
// the exchange rate to a measured dispersion curve with the populations and the shift difference
// known, as the experiment knows them.
#pragma once

#include <optional>
#include <span>

namespace velmora::exchange {

struct TwoSiteExchange {
    double r20PerS = 0;            // relaxation rate of both sites without exchange
    double kexPerS = 0;            // kAB + kBA
    double pa = 1;                 // population of site A
    double deltaOmegaRadPerS = 0;  // shift difference between the sites
};

// R2,eff (1/s) of a CPMG train whose refocusing pulses lie `pulseSpacingS` apart (the CPMG
// frequency is 1 / (2 pulseSpacingS)), ideal pulses, equal relaxation in both sites.
double carverRichardsRate(const TwoSiteExchange& exchange, double pulseSpacingS);

struct DispersionSample {
    double pulseSpacingS = 0;
    double r2effPerS = 0;
    double errorPerS = 0;  // standard error of r2effPerS; 0 when not known
};

struct ExchangeFit {
    double kexPerS = 0;
    double r20PerS = 0;
    // Standard error of kexPerS from the samples' errors (R20 fitted with it); none when the
    // samples carry no errors or the curve does not depend on kex there.
    std::optional<double> kexErrorPerS;
};

// The kex (and R20) whose Carver-Richards curve fits the samples best in least squares weighted by
// 1 / error^2, for the given Pa and shift difference (a sample without an error takes the smallest
// error of the others; without any errors all weigh alike); none with fewer than three samples of
// different spacings, and none when the curve cannot depend on kex (no shift difference, or Pa 0
// or 1).
std::optional<ExchangeFit> fitExchangeRate(std::span<const DispersionSample> samples, double pa,
                                           double deltaOmegaRadPerS);

}  // namespace velmora::exchange
