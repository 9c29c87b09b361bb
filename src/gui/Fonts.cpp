#include "gui/Fonts.h"

#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace quillon {

QFont WindowFont() {
  const QStringList families = QFontDatabase::families();
  QFont font(families.contains(QStringLiteral("Verdana")) ? QStringLiteral("Verdana")
                                                          : QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace quillon
