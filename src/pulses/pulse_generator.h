// The shaped-pulse generator: builds a Gaussian, a sum of two pulses, a pulse with an added
// harmonic, an HSn adiabatic sweep (optionally cut into gaps), a stripe pulse or a sinusoidally
// frequency-modulated pulse from a few numbers, and lays it out as the lines of a shaped-pulse
// file (.RF): an optional header of comment lines, filler elements of zero amplitude before and
// after, and one line "phase<TAB>amplitude<TAB>1" per element, amplitudes scaled to 1023.
// Pure computation: reading the source pulses and writing the file are the caller's.
#pragma once

#include "pulses/gap_placement.h"
#include "pulses/shape_table.h"
#include "util/uniform_random.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::pulses {

// Shape keywords of the generator.
inline constexpr std::string_view kShapeGauss = "gauss";
inline constexpr std::string_view kShapeSumOfTwo = "AddTwoPulse";
inline constexpr std::string_view kShapeHarmonics = "AddHarmonics";
inline constexpr std::string_view kShapeHsn = "HSn pulse";
inline constexpr std::string_view kShapeStripe = "Stripe";
inline constexpr std::string_view kShapeFmSin = "FM_sin";
inline constexpr std::string_view kShapeWavelet = "wavelet";  // known by name, not built

// The shapes made by the generator, in the order of the shape boxes.
const std::vector<std::string_view>& generatorShapes();

// Seed of the random placement ("zv_rnd"): the same boxes always give the same pulse.
inline constexpr std::int64_t kPlacementSeed = 14;

// The numbers of a pulse, as the boxes give them.
struct GeneratorSettings {
    std::string shape{kShapeHsn};
    double freqShift = 0.0;     // fs: phase ramp added per pulse (Gauss, FM_sin) or per Frank pass, degrees
    double phaseDeg = 0.0;      // phi0: phase of the first element, degrees
    int gapCount = 256;         // Ngap
    int pulsePerGap = 32;       // Np: pulse elements in every gap
    int delayPerGap = 0;        // Nd: silent elements in every gap
    int hsOrder = 1;            // n: exponent of the HSn amplitude sech(beta tau^n)
    double rValue = 1.0;        // R: the sweep's phase is divided by it
    double truncation = 0.001;  // t: end amplitude of the HSn sweep and of the Gaussian (0 < t <= 1)
    int zerosAtStart = 0;       // Zs: filler gaps before the pulse
    int zerosAtEnd = 0;         // Ze: filler gaps after the pulse
    int frankRepeat = 1;        // Fr: passes of the body
    GapMethod method = GapMethod::Zv;
    bool mirrored = false;      // sweep sign "-": every HSn phase p becomes 360000 - p
    bool header = true;         // comment "y": write the header lines
    double secondWeight = 1.0;  // w1: weight of "ttt1.RF" in the sum of two pulses
};

// One element of a pulse file: phase in degrees and amplitude (1023 = full).
struct PulseElement {
    double phaseDeg = 0.0;
    double amplitude = 0.0;
};

// Pulses the sums start from, as read from their files (element 1 first).
struct GeneratorSources {
    std::vector<PulseElement> first;   // "ttt2.RF" of the sum, or the file of "shape" for harmonics
    std::vector<PulseElement> second;  // "ttt1.RF" of the sum
};

struct GeneratedPulse {
    // The file's lines (without line ends).
    std::vector<std::string> lines;
    // The file's elements as a run loads them: points 1..count, phase in degrees, amplitude
    // (1023 = full), relative duration 1; points[0] unused.
    ShapeTable table;
    int bodyElements = 0;  // N = (Nd + Np) x Ngap
    // |sum of the complex elements| over the whole file relative to as many elements of full
    // amplitude and one phase: 1 for a rectangular pulse, the area of the pulse's envelope.
    double integral = 0.0;
};

struct GenerationResult {
    std::optional<GeneratedPulse> pulse;
    std::string error;  // why nothing was made (pulse empty)
};

// Largest number of elements a pulse file may hold: what the numeric reader takes in one go.
inline constexpr int kMaxPulseElements = 200000;

// Body elements N = (Nd + Np) x Ngap and the elements of the whole file,
// (Nd + Np) x Zs + Fr x ((Nd + Np) x Ze + N); both saturate instead of overflowing.
long long bodyElementCount(const GeneratorSettings& settings);
long long fileElementCount(const GeneratorSettings& settings);

// Builds the pulse. `random` is reseeded with kPlacementSeed first. The sums need their sources
// with at least N elements each. Refuses (with a message, nothing made) an unknown or unbuilt
// shape, no elements, no pulse elements in a gap, a pulse too long for a file and sources too short.
GenerationResult generatePulse(const GeneratorSettings& settings, const GeneratorSources& sources,
                               util::UniformRandom& random);

}  // namespace velmora::pulses
