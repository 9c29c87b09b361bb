#include "gui/OuterFrame.h"

#include <QEvent>
#include <QRect>
#include <QWidget>
#include <QWindow>

namespace quillon {

TOuterFrame::TOuterFrame(QWidget& window, int outerWidth, int outerHeight, int minOuterHeight,
                         TAnchor anchor)
    : QObject(&window),
      window_(window),
      width_(outerWidth),
      minHeight_(minOuterHeight),
      anchor_(anchor) {
  if (minHeight_ > 0) {
    window_.setMinimumSize(width_, minHeight_);
    window_.setMaximumWidth(width_);
  }
  window_.resize(outerWidth, outerHeight);
  window_.installEventFilter(this);
}

bool TOuterFrame::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
      // Framing moves the client area into the frame, and a new frame resizes it.
      if (watched == &window_) Fit();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void TOuterFrame::Fit() {
  const QWindow* handle = window_.windowHandle();
  if (handle == nullptr) return;
  const QMargins frame = handle->frameMargins();
  if (frame == applied_) return;
  const int frameWidth = frame.left() + frame.right();
  const int frameHeight = frame.top() + frame.bottom();
  // The outer height the window has now (the design, or what the user chose).
  const int outerHeight = window_.height() + applied_.top() + applied_.bottom();
  const QPoint centre = window_.frameGeometry().center();
  applied_ = frame;
  if (minHeight_ > 0) {
    window_.setMinimumSize(width_ - frameWidth, minHeight_ - frameHeight);
    window_.setMaximumWidth(width_ - frameWidth);
  }
  window_.resize(width_ - frameWidth, outerHeight - frameHeight);
  if (anchor_ == TAnchor::Centre) {
    QRect outer = window_.frameGeometry();
    outer.moveCenter(centre);
    window_.move(outer.topLeft());
  }
}

}  // namespace quillon
