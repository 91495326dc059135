#include "ui/window_texts.h"

namespace velmora::ui {

QStringList helpText()
{
    return {
        "Introduction",
        "  Velmora simulates NMR experiments on spin systems of 1H, 13C and 15N nuclei: J coupling,",
        "  chemical shift, magnetic field gradients, noise, T1 and T2 relaxation, cross-relaxation,",
        "  pseudo-relaxation and chemical exchange. Up to 10 spins; up to 58 editable steps (besides",
        "  step 0 and the acquisition) with hard and shaped pulses; four channels (1H, 13C, 15N RF",
        "  and a Z gradient); phase cycling; arrays of a delay, a pulse, a gradient or a relaxation",
        "  time. It plots the sequence, 1D and 2D spectra, 2D cross sections and product-operator",
        "  components, with Gaussian or exponential weighting and phase-sensitive detection in both",
        "  dimensions.",
        "Installation",
        "  Velmora changes no system files. On its first start it creates its working directory",
        "  Velmora in your home folder, with the example experiments, and its settings file",
        "  Velmora.ini in your configuration folder (~/.config/Velmora). A Velmora/Velmora.ini beside",
        "  the program is used instead when it exists (portable use). The working directory can be",
        "  changed in the Options frame.",
        "Uninstall",
        "  Delete the program and its folder. Your working directory stays.",
        "Starting",
        "  Open the COSY example (cosy.mol and cosy.psq) from the File frame: two coupled protons and",
        "  one carbon. Press Start_2D, then change the parameters and run again.",
        "Spin systems",
        "  Click a spin of the drawing to open the Nuclei parameters window: shift, couplings, T1, T2.",
        "  A click on the blank position adds a spin of type H, C or N. The window closes when the",
        "  pointer leaves it.",
        "Pulse sequences",
        "  Click a step of the drawn sequence to make it current; the Parameters section edits it.",
        "  Del deletes and Ins inserts a step.",
        "Phase cycling",
        "  Phases are fixed (x, y, -x, -y) or variable (f4 to f9); a variable phase follows its row of",
        "  the Phase cycle table, one digit per scan (0 = x, 1 = y, 2 = -x, 3 = -y), and also changes",
        "  between the two runs of a 2D increment for phase-sensitive detection.",
        "Cycling part of sequence",
        "  Mark the first step of the block with the red { and the last with the red }; the red box",
        "  sets how many times more the block runs.",
        "1D experiment",
        "  Start runs the arrayed 1D experiment: Ni + 1 spectra with the arrayed parameter stepped by",
        "  Add or Mult, and plots the spectra of all channels, one by one or side by side (ON / OFF).",
        "2D experiment",
        "  Start_2D needs an arrayed delay and a 90-degree phase step between the two runs of an",
        "  increment (f4 = 01). Detection (t2) chooses the nucleus the receiver observes.",
        "Save",
        "  Molecules (*.mol) and sequences (*.psq) are saved separately from the File frame.",
        "Open",
        "  Molecules and sequences are opened separately from the File frame.",
        "Plotting of product operators",
        "  After a run the list at the bottom left shows the operators that are not zero at the end",
        "  of the step marked point; a click on one plots its value against the arrayed parameter.",
    };
}

QStringList aboutText()
{
    return {
        "About",
        "Velmora " VELMORA_VERSION_TEXT,
        "An NMR spin-dynamics simulator for students and for experienced NMR users.",
        "History of this program:",
        "  0.1  the product-operator engine, sequence files, arrayed and 2D runs, synthesized",
        "       spectra and 2D maps, the command line, and this window.",
    };
}

}  // namespace velmora::ui
