// Closing the console on Windows: the system calls the console's control
// handler on a thread of its own and ends the process once the handler
// returns, or once the user's hung-application time-out has passed
// (SPI_GETHUNGAPPTIMEOUT, 5 s unless changed). A handler waits for the
// program's save within that time; the save says when it is done.
#pragma once

#include <cstdint>

namespace quillon {

// How long a handler may wait under a hung-application time-out: a second
// less, so that the handler returns before the system gives up on it, and at
// least half of it.
std::uint32_t ConsoleCloseWaitMs(std::uint32_t hungAppTimeoutMs);
// The same for this user's time-out.
std::uint32_t ConsoleCloseWaitMs();

// The state files are saved: a handler waiting for it may return.
void MarkStateSaved();
// Waits until MarkStateSaved was called, at most ConsoleCloseWaitMs(); true
// when it was.
bool AwaitStateSaved();

}  // namespace quillon
