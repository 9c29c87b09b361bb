// Keeps a top-level window's outer size (frame included) at its design. The
// window manager's frame is known only once it has framed the window, which on
// a desktop comes after the window is shown, and a theme change may alter it.
#pragma once

#include <QMargins>
#include <QObject>

class QWidget;

namespace quillon {

class TOuterFrame : public QObject {
 public:
  // What stays in place when the frame is fitted: the outer top-left corner (a
  // window placed by its design) or the centre (a window centred over another).
  enum class TAnchor { TopLeft, Centre };

  // Sizes the window to outerWidth x outerHeight now (no frame is known yet).
  // With minOuterHeight > 0 the width is fixed and the height may not go below it.
  TOuterFrame(QWidget& window, int outerWidth, int outerHeight, int minOuterHeight, TAnchor anchor);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Takes the frame off the client area whenever it differs from the one applied.
  void Fit();

  QWidget& window_;
  int width_;
  int minHeight_;
  TAnchor anchor_;
  QMargins applied_;
};

}  // namespace quillon
