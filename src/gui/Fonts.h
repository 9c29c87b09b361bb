#pragma once

#include <QFont>

namespace quillon {

// The windows' own font: Verdana at 11 pixels where it is installed, else a
// sans font of the same build (DejaVu Sans shares Verdana's wide metrics), so
// that captions fit the fixed control sizes either way.
QFont WindowFont();

}  // namespace quillon
