// The settings of one run, read once from the window's boxes and switches when the run is
// prepared, so the engine never looks at the controls while it propagates.
#pragma once

#include <string>
#include <vector>

namespace velmora::engine {

struct RunSettings {
    std::string arrayedName = "d1";  // "T1", "T2", "Tcr" make relaxation times come from the array

    bool t1Relaxation = false;
    bool t2Relaxation = false;
    bool crossRelaxation = false;
    double crossRelaxationMs = 3000.0;  // Tcr
    bool t2FromT1 = false;              // "T2=T1/": an arrayed T1 sets T2 = T1 / factor and back
    double t2FromT1Factor = 1.0;

    bool destroyMxy = false;       // zero the single-spin transverse terms before each pulse
    bool receiverGapping = false;  // sample only while the detected channel's RF is off
    int receiverDelayPoints = 0;   // points the gate stays shut after the RF stops (0 without gapping)
    bool plotVectorEvolution = false;

    std::vector<std::string> phaseRows;  // f4..f9
    int lastSlice = 127;                 // slice count - 1
    int scans = 1;
    std::string objectProfile = "square";
    bool nonEquilibrium = false;  // start from the chosen operators instead of equilibrium
    // Couplings between spins of one nucleus act with the full scalar term, on the exact path.
    bool strongCoupling = false;
};

}  // namespace velmora::engine
