#include "gui/Fonts.h"

#include <QApplication>
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

QFont GridFont() {
  QFont font = QApplication::font();
  font.setPixelSize(11);
  font.setResolveMask(QFont::AllPropertiesResolved);
  return font;
}

}  // namespace quillon
