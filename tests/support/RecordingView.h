// A view for engine tests: keeps the messages the window would show and counts
// the refreshes it asks for.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "trace/TraceView.h"

namespace quillon {

class TRecordingView : public TTraceView {
 public:
  void ShowMessage(const std::string& text) override {
    Messages.push_back(text);
    if (WhileShown) WhileShown();
  }
  void GridChanged() override { ++GridChanges; }
  void ControlsChanged() override { ++ControlChanges; }

  std::vector<std::string> Messages;
  // Runs while a message shows, as the box's own message loop would.
  std::function<void()> WhileShown;
  int GridChanges = 0;
  int ControlChanges = 0;
};

}  // namespace quillon
