// What the trace engine needs from whoever shows it (the Qt window, the
// terminal, a test): a modal message and a nudge when something changed.
#pragma once

#include <string>

namespace quillon {

class TTraceView {
 public:
  virtual ~TTraceView() = default;
  // A modal box with an OK button ("Host not found: " and the host).
  virtual void ShowMessage(const std::string& text) = 0;
  // The grid changed: repaint it at once.
  virtual void GridChanged() = 0;
  // Buttons, boxes or the host list changed.
  virtual void ControlsChanged() = 0;
};

}  // namespace quillon
