// The tables of a shaped pulse that lies on the acquisition step: its complex waveform sampled at
// every computed point and its discrete spectrum, used by the processing of signals acquired
// during the pulse, and written as "apulseTime.dat", "apulseSweepFreq.dat" and "apulseFreq.dat".
#pragma once

#include "pulses/shape_table.h"
#include "util/messages.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::pulses {

struct AcquisitionPulseTables {
    // Rows 0..L (L = F x np); row 0 unused.
    // waveform: a cos(phi), a sin(phi), a, phase step in degrees; phi = phase + 90 degrees, a = amplitude /
    // 1023
    std::vector<std::array<double, 4>> waveform;
    // spectrum row j + 1: real, imaginary, modulus at centred frequency index j
    std::vector<std::array<double, 4>> spectrum;
    // Rows 0..L, kept whole (the file writing decimates rows 1..np of the waveform in place):
    // amplitude / 1023, phase step from the sample before in degrees.
    std::vector<std::array<double, 2>> sweep;
};

struct AcquisitionPulseRequest {
    int pointCount = 0;    // np
    int oversampling = 1;  // F
    // "correlate with:": the pulse of this file (name + ".RF" in the working directory, or the name
    // itself when it ends in ".RF" and no file with the extension doubled exists) replaces the
    // acquisition shape.
    bool replace = false;
    std::string replacementName;
    std::filesystem::path workingDirectory;
    // Where the three tables are written; the working directory when empty.
    std::filesystem::path outputDirectory;
};

// Builds the tables from `shape` (replaced first when the request says so) and writes the three
// files. Fails with a message when the replacement file cannot be read or a file cannot be written.
std::optional<AcquisitionPulseTables>
prepareAcquisitionPulse(ShapeTable& shape, const AcquisitionPulseRequest& request, util::Messages& messages);

}  // namespace velmora::pulses
