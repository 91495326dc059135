// FIDs and centred spectra as complex vectors.
#include "processing/centred_spectrum.h"

#include "processing/fourier.h"

namespace velmora::processing {

namespace {

// The transform of `in` with its halves swapped before (`preShift`) or after it.
bool transformed(std::span<const std::complex<double>> in, ComplexSamples& out, bool reverse, bool preShift,
                 util::Messages& messages)
{
    const std::size_t n = in.size();
    const std::size_t half = n / 2;
    std::vector<double> re(n), im(n), outRe(n), outIm(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t source = preShift ? (i + half) % n : i;
        re[i] = in[source].real();
        im[i] = in[source].imag();
    }
    if (!Fourier(static_cast<int>(n), re, im, outRe, outIm, reverse, messages))
        return false;
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t source = preShift ? i : (i + half) % n;
        out[i] = {outRe[source], outIm[source]};
    }
    return true;
}

}  // namespace

bool toCentredSpectrum(std::span<const std::complex<double>> fid, ComplexSamples& spectrum,
                       util::Messages& messages)
{
    return transformed(fid, spectrum, false, false, messages);
}

bool toFid(std::span<const std::complex<double>> spectrum, ComplexSamples& fid, util::Messages& messages)
{
    if (!transformed(spectrum, fid, true, true, messages))
        return false;
    for (std::complex<double>& x : fid)
        x *= static_cast<double>(fid.size());  // each direction scales by 1/np
    return true;
}

double centredFrequencyHz(int index, int pointCount, double dwellS)
{
    return (pointCount / 2 - index) / (pointCount * dwellS);
}

}  // namespace velmora::processing
