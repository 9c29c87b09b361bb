// What the terminal and the window tell a user who may not open ICMP sockets:
// the error itself, then how to allow tracing on this machine.
#pragma once

#include <exception>
#include <string>

namespace quillon {

// True when the error means that no ICMP socket could be had for lack of rights.
bool IsPrivilegeFailure(const std::exception& error);

// The one line that tells how to allow tracing for the program at programPath.
std::string PrivilegeHint(const std::string& programPath);

// The error's text, and on a line of its own the hint when it is a lack of rights.
std::string ErrorTextWithHint(const std::exception& error, const std::string& programPath);

}  // namespace quillon
