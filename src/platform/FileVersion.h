// Reading the version the executable carries (see VersionInfo.h): the About line
// and --version show what the build embedded, never a second copy of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The FileVersion text of the running executable's "040904E4" block; empty text
// on any failure (no section, no block, a damaged file).
std::string ReadFileVersion();

// The same for any file.
std::string ReadFileVersionFrom(const std::string& path);

// Reads length bytes at offset into out; false when the file has fewer.
using TReadAt = std::function<bool(std::uint64_t offset, std::size_t length, std::string& out)>;

// The contents of the named section of an ELF file (32 or 64 bit, either byte
// order), or nothing when the file is no ELF file, has no such section or is
// inconsistent. Sections larger than maxSize count as missing.
std::optional<std::string> ReadElfSection(const TReadAt& read, std::string_view name,
                                          std::size_t maxSize = 65536);

// A text value of a version block by its path below the root, components joined
// by backslashes ("StringFileInfo\\040904E4\\FileVersion"); keys compare without
// regard to the case of A..Z. Nothing when the path does not lead to a text value.
std::optional<std::string> QueryVersionText(std::string_view block, std::string_view path);

}  // namespace quillon
