// What the About window says and links to, the same in every window that shows
// it, and how the link finds the browser registered for web pages.
#pragma once

#include <string>

namespace quillon {

// The project's home page: the About window's link.
inline constexpr char MakerWebAddress[] = "https://quillon.example.org/";

// The licence notice, one centred line each: the MIT licence of LICENSE, in short.
inline constexpr const char* LicenceNotice[] = {
    "Quillon is free software under",    "the MIT licence: use, copy, change",
    "and share it, keeping its notice.", "It comes without any warranty;",
    "you use it at your own risk.",      "(c) 2026 The Quillon developers",
};

// "Free Quillon ( Version " + the version + " )".
std::string ProductLine(const std::string& version);

// The program of a registered open command: the text between its first two
// double quotes. Empty when the command has fewer than two, so that only a
// quoted program path is ever started.
std::string QuotedProgram(const std::string& command);

}  // namespace quillon
