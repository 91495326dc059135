// The ideal signal of the current spin system, to compare with a swept acquisition: every proton
// gives a first-order multiplet (split by its couplings to every other spin, lines of equal
// height), each line decaying with the proton's T2, sampled at the acquired points. The record
// then holds this FID; the rest of the chain transforms it like a measured one.
#pragma once

#include "engine/run_records.h"
#include "engine/spin_tables.h"

namespace velmora::processing {

// Fills points 1..np of every run with the model FID x + iy = sum of A exp((2 pi i f - 1/T2) t),
// t = (k - 1) dwellS, A = the nucleus constant / (number of lines of the multiplet), the scale of
// sampled records.
void writeModelSpectrum(engine::SampleRecord& record, int pointCount, int lastRun, double dwellS,
                        const engine::SpinTables& spins);

}  // namespace velmora::processing
