// How the program's entry opens its window, where this build has one: the
// build picks one of the OpenWindow*.cpp files.
#pragma once

#include <optional>

#include "cli/CliOptions.h"

namespace quillon {

// Whether this build can open a window at all.
extern const bool WindowBuilt;

// The display the window would open on, as the decision to open it reads it
// (nullptr when there is none).
const char* WindowDisplay();

// Runs the window until it is closed; its exit code, or nothing when the window
// cannot be opened after all (its module or toolkit is missing).
std::optional<int> OpenWindow(int argc, char** argv, const TCliOptions& options);

}  // namespace quillon
