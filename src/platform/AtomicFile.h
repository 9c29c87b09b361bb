// Replacing a user's file without ever leaving it half written: the new content
// goes to a temporary file beside it, is flushed to disk, and is renamed over
// the old one. A failure leaves the old file whole.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// True when the file now holds exactly the data. Creates it when missing, as a
// plain write would: with the umask applied. A file the user may not write is
// left alone (false); through a symbolic link its target is replaced.
bool ReplaceFileContents(const std::string& path, std::string_view data);

// The whole file, or false when it cannot be opened or read (read-only access).
bool ReadFileContents(const std::string& path, std::string& data);

}  // namespace quillon
