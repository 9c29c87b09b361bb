// The host history file: one host per line, most recently used first. Lines are
// written with CR LF; on reading, CR, LF or CR LF each end a line, a last line
// without an ending counts, and a zero byte ends the text. Empty lines and
// blanks are kept exactly as stored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Splits history text into its lines by the reading rules above.
std::vector<std::string> ParseHostHistory(std::string_view text);
// The text of the lines, each followed by CR LF.
std::string FormatHostHistory(const std::vector<std::string>& lines);

// Replaces lines with the file's lines; false (lines untouched) when the file
// cannot be read.
bool ReadHostHistory(const std::string& path, std::vector<std::string>& lines);
// Replaces the file as a whole through a temporary file, so that a failed
// save leaves the old history intact. False when it could not be saved.
bool WriteHostHistory(const std::string& path, const std::vector<std::string>& lines);

}  // namespace quillon
