#pragma once

#include <QFont>

namespace quillon {

// The windows' own font: Verdana at 11 pixels where it is installed, else a
// sans font of the same build (DejaVu Sans shares Verdana's wide metrics), so
// that captions fit the fixed control sizes either way.
QFont WindowFont();

// The hop grid's font: the desktop's own family at 11 pixels (8 points at 96
// dots per inch), so that every text, descenders included, fits the 15-pixel
// rows; the desktop's default size (about 9 points) does not.
QFont GridFont();

}  // namespace quillon
