// Spin systems and sequences built in code for the Python module: the same model objects the
// readers fill, changed only through calls that refuse what the readers refuse (with the same
// messages), and convertible to and from the molecule and sequence files' lines.
#pragma once

#include "model/controls.h"
#include "model/exchange_settings.h"
#include "model/pulse_sequence.h"
#include "model/spin_value_ranges.h"
#include "model/spin_system.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::python {

// Up to 10 spins 0..N-1 with shifts (ppm), T1 and T2 (ms) and couplings (Hz), kept as given; a
// workbench takes it through the molecule reader (single precision), as it takes a file.
class CodeSpinSystem {
public:
    CodeSpinSystem();  // no spins

    // nucleus: "1H", "13C", "15N" (or "H", "C", "N"). Returns the new spin's index.
    int addSpin(const std::string& nucleus, double shiftPpm, double t1Ms, double t2Ms);
    void couple(int i, int j, double hz);
    void setShift(int spin, double ppm);
    void setT1(int spin, double ms);
    void setT2(int spin, double ms);

    int count() const { return count_; }
    const model::SpinSystem& system() const { return system_; }

    // The molecule file's lines; refused for a spin system without spins.
    std::vector<std::string> lines() const;
    // Read as the molecule file reader reads; `source` names the text in a refusal.
    static CodeSpinSystem fromLines(std::vector<std::string> lines, const std::string& source);
    static CodeSpinSystem read(const std::filesystem::path& path);
    // The spins of a workbench's spin system.
    static CodeSpinSystem of(const model::SpinSystem& system);

private:
    void requireSpin(int spin) const;
    double stored(double value, const std::string& what, model::SpinValue kind) const;

    model::SpinSystem system_;
    int count_ = 0;
};

// A pulse sequence with the boxes a sequence file stores beside it (np, sw, switches, phase cycle,
// exchange values). A new one has `steps` empty steps, every channel at r1..r3 and o1..o3, nothing
// arrayed, and the start-up boxes.
class CodeSequence {
public:
    explicit CodeSequence(int steps = 1);

    model::PulseSequence sequence;
    model::Controls controls;
    model::ExchangeSettings exchange;

    // The sequence file's lines; refused as the writer refuses.
    std::vector<std::string> lines() const;
    // Read as the sequence file reader reads; shaped elements keep their names only when their
    // files are in `workingDirectory` (an empty path keeps every name: a copy held in memory).
    static CodeSequence fromLines(std::vector<std::string> lines, const std::string& source,
                                  const std::filesystem::path& workingDirectory);
    static CodeSequence read(const std::filesystem::path& path);
};

// Splits a file's text into lines without their ends (CR LF or LF).
std::vector<std::string> textLines(const std::string& text);
// The lines joined with CR LF, as the files hold them.
std::string fileText(const std::vector<std::string>& lines);

}  // namespace velmora::python
