// Where the parts of the main window's working area go, for the size the working area has.
//
// At the designed size the parts sit where the window's areas are described (in twips). The
// designed size is also the smallest; it fits a 1280 x 720 laptop screen with the menu and the
// status bar. A larger window shares its extra room: the plot column takes most of the width, the
// left column the rest, and the pictures and lists of the left column take the extra height
// (the forms keep theirs).
#pragma once

#include "ui/twips.h"

#include <QRect>
#include <QSize>

namespace velmora::ui {

struct WorkingAreaLayout {
    QRect spins;        // the spin-system picture
    QRect acquisition;  // field, np, sw, array and phase-cycle boxes
    QRect sequence;     // the sequence picture
    QRect nuclei;       // the nuclei window, over the sequence picture's place
    QRect parameters;   // the current step's parameters
    QRect operators;    // the operator list
    QRect results;      // the result list
    QRect tools;        // the pulse tools
    QRect plotColumn;   // spectrum, view controls, map and traces
};

// The working area's designed (and smallest) size, in pixels.
QSize designedWorkingArea(const Twips& twips);

// The parts' places for a working area of `area` pixels (never smaller than the designed size).
WorkingAreaLayout layOutWorkingArea(const Twips& twips, QSize area);

}  // namespace velmora::ui
