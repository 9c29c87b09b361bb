#include "platform/FileVersion.h"

#include <vector>

#include "platform/ExecutablePath.h"
#include "platform/Text.h"
#include "platform/VersionInfo.h"

namespace quillon {
namespace {

// Little- or big-endian unsigned reads out of bytes already bounds-checked.
class TFieldReader {
 public:
  TFieldReader(std::string_view bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}
  std::uint64_t U(std::size_t offset, std::size_t width) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const auto byte = static_cast<std::uint8_t>(bytes_[offset + (big_ ? i : width - 1 - i)]);
      value = value << 8 | byte;
    }
    return value;
  }

 private:
  std::string_view bytes_;
  bool big_;
};

struct TSectionHeader {
  std::uint32_t Name = 0;
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
  std::uint32_t Type = 0;
  std::uint32_t Link = 0;
};

constexpr std::uint32_t SHT_NOBITS_ = 8;
constexpr std::size_t MaxSections = 65536;
constexpr std::size_t MaxNameTable = 16u << 20;

}  // namespace

std::optional<std::string> ReadElfSection(const TReadAt& read, std::string_view name,
                                          std::size_t maxSize) {
  std::string ident;
  if (!read(0, 16, ident) || ident.size() != 16 ||
      ident.compare(0, 4,
                    "\x7F"
                    "ELF") != 0) {
    return std::nullopt;
  }
  const bool is64 = ident[4] == 2;
  if (!is64 && ident[4] != 1) return std::nullopt;
  if (ident[5] != 1 && ident[5] != 2) return std::nullopt;
  const bool big = ident[5] == 2;

  std::string header;
  const std::size_t headerSize = is64 ? 64 : 52;
  if (!read(0, headerSize, header) || header.size() != headerSize) return std::nullopt;
  const TFieldReader h(header, big);
  const std::uint64_t shoff = is64 ? h.U(0x28, 8) : h.U(0x20, 4);
  const std::size_t shentsize = static_cast<std::size_t>(is64 ? h.U(0x3A, 2) : h.U(0x2E, 2));
  std::uint64_t shnum = is64 ? h.U(0x3C, 2) : h.U(0x30, 2);
  std::uint64_t shstrndx = is64 ? h.U(0x3E, 2) : h.U(0x32, 2);
  const std::size_t minEntry = is64 ? 64 : 40;
  if (shoff == 0 || shentsize < minEntry) return std::nullopt;

  auto readHeader = [&](std::uint64_t index, TSectionHeader& out) {
    std::string entry;
    if (index > (UINT64_MAX - shoff) / shentsize) return false;
    if (!read(shoff + index * shentsize, minEntry, entry) || entry.size() != minEntry) {
      return false;
    }
    const TFieldReader e(entry, big);
    out.Name = static_cast<std::uint32_t>(e.U(0, 4));
    out.Type = static_cast<std::uint32_t>(e.U(4, 4));
    out.Offset = is64 ? e.U(0x18, 8) : e.U(0x10, 4);
    out.Size = is64 ? e.U(0x20, 8) : e.U(0x14, 4);
    out.Link = static_cast<std::uint32_t>(is64 ? e.U(0x28, 4) : e.U(0x18, 4));
    return true;
  };

  // Files with very many sections keep the real count and name-table index in
  // the first section header.
  if (shnum == 0 || shstrndx == 0xFFFF) {
    TSectionHeader first;
    if (!readHeader(0, first)) return std::nullopt;
    if (shnum == 0) shnum = first.Size;
    if (shstrndx == 0xFFFF) shstrndx = first.Link;
  }
  if (shnum == 0 || shnum > MaxSections || shstrndx >= shnum) return std::nullopt;

  TSectionHeader names;
  if (!readHeader(shstrndx, names) || names.Type == SHT_NOBITS_ || names.Size > MaxNameTable) {
    return std::nullopt;
  }
  std::string nameTable;
  if (!read(names.Offset, static_cast<std::size_t>(names.Size), nameTable) ||
      nameTable.size() != names.Size) {
    return std::nullopt;
  }

  for (std::uint64_t i = 1; i < shnum; ++i) {
    TSectionHeader section;
    if (!readHeader(i, section)) return std::nullopt;
    if (section.Name >= nameTable.size()) continue;
    const std::size_t end = nameTable.find('\0', section.Name);
    if (end == std::string::npos) continue;
    if (std::string_view(nameTable).substr(section.Name, end - section.Name) != name) continue;
    if (section.Type == SHT_NOBITS_ || section.Size > maxSize) return std::nullopt;
    std::string contents;
    if (!read(section.Offset, static_cast<std::size_t>(section.Size), contents) ||
        contents.size() != section.Size) {
      return std::nullopt;
    }
    return contents;
  }
  return std::nullopt;
}

namespace {

struct TVersionNode {
  std::string_view Key;
  std::string_view Value;
  bool Text = false;
  std::string_view Children;  // the bytes after the value, up to the node's end
};

std::size_t Align4(std::size_t n) {
  return (n + 3) & ~std::size_t{3};
}

// The node at the start of bytes (which begins on a 4-byte boundary of the
// block); its full length including padding goes to advance.
std::optional<TVersionNode> ParseNode(std::string_view bytes, std::size_t& advance) {
  if (bytes.size() < 6) return std::nullopt;
  const TFieldReader r(bytes, false);
  const auto length = static_cast<std::size_t>(r.U(0, 2));
  const auto valueLength = static_cast<std::size_t>(r.U(2, 2));
  const auto type = r.U(4, 2);
  if (length < 7 || length > bytes.size() || type > 1) return std::nullopt;
  const std::string_view node = bytes.substr(0, length);
  const std::size_t keyEnd = node.find('\0', 6);
  if (keyEnd == std::string_view::npos) return std::nullopt;
  TVersionNode out;
  out.Key = node.substr(6, keyEnd - 6);
  out.Text = type == 1;
  const std::size_t valueStart = Align4(keyEnd + 1);
  if (valueLength > 0) {
    if (valueStart > node.size() || valueLength > node.size() - valueStart) return std::nullopt;
    out.Value = node.substr(valueStart, valueLength);
  }
  const std::size_t childStart = Align4(valueStart + valueLength);
  out.Children = childStart < node.size() ? node.substr(childStart) : std::string_view{};
  advance = Align4(length);
  return out;
}

}  // namespace

std::optional<std::string> QueryVersionText(std::string_view block, std::string_view path) {
  std::size_t advance = 0;
  auto node = ParseNode(block, advance);
  if (!node || node->Key != VersionRootKey) return std::nullopt;
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    const std::string_view key = path.substr(0, cut);
    path = cut == std::string_view::npos ? std::string_view{} : path.substr(cut + 1);
    if (key.empty()) continue;
    std::string_view children = node->Children;
    std::optional<TVersionNode> found;
    while (!children.empty()) {
      auto child = ParseNode(children, advance);
      if (!child) return std::nullopt;
      if (SameText(child->Key, key)) {
        found = child;
        break;
      }
      if (advance >= children.size()) break;
      children = children.substr(advance);
    }
    if (!found) return std::nullopt;
    node = found;
  }
  if (!node->Text) return std::nullopt;
  const std::string_view value = node->Value;
  return std::string(value.substr(0, value.find('\0')));
}

std::string ReadFileVersion() {
  const std::string path = ExecutablePath();
  return path.empty() ? std::string{} : ReadFileVersionFrom(path);
}

}  // namespace quillon
