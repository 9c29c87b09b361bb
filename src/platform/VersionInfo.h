// The version block the executable carries in a section of its own: a tree of
// nodes in the classic version-resource shape, with 8-bit text. Each node is
//   u16 length (the node with its children), u16 value length (bytes; a text
//   value counts its terminating zero), u16 type (0 binary, 1 text),
//   the key with a terminating zero, padding to 4, the value, padding to 4,
//   then the children, each starting at a multiple of 4.
// All numbers are little-endian and all offsets count from the block's start.
// The root "VS_VERSION_INFO" holds the fixed part (file and product version as
// numbers); "StringFileInfo\040904E4" holds the texts and "VarFileInfo\Translation"
// the language 0x0409 with code page 0x04E4.
// The builder runs at compile time so that the block is plain constant data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillon {

// Name of the ELF section that holds the block.
inline constexpr std::string_view VersionSectionName = ".quillon.version";
inline constexpr std::string_view VersionRootKey = "VS_VERSION_INFO";
inline constexpr std::string_view VersionStringBlockKey = "040904E4";

struct TVersionStrings {
  std::string_view FileVersion;
  std::string_view ProductVersion;
  std::string_view ProductName;
  std::string_view FileDescription;
  std::string_view OriginalFilename;
};

template <std::size_t Capacity>
class TVersionBlockWriter {
 public:
  // Opens a node; returns its start for EndNode. Binary values are written as given.
  constexpr std::size_t BeginNode(std::string_view key, std::string_view value, bool text) {
    Align();
    const std::size_t start = size_;
    Put16(0);  // length, patched by EndNode
    const std::size_t valueLength = text ? value.size() + 1 : value.size();
    Put16(static_cast<std::uint16_t>(valueLength));
    Put16(text ? 1 : 0);
    PutText(key);
    Align();
    for (char c : value) Put(static_cast<std::uint8_t>(c));
    if (text) Put(0);
    return start;
  }
  constexpr void EndNode(std::size_t start) {
    const std::size_t length = size_ - start;
    bytes_[start] = static_cast<std::uint8_t>(length & 0xFF);
    bytes_[start + 1] = static_cast<std::uint8_t>(length >> 8);
  }
  constexpr void Leaf(std::string_view key, std::string_view value) {
    EndNode(BeginNode(key, value, true));
  }
  constexpr std::size_t Size() const { return size_; }
  constexpr std::uint8_t At(std::size_t i) const { return bytes_[i]; }

 private:
  constexpr void Put(std::uint8_t b) {
    if (size_ >= Capacity) throw "version block too large";  // fails the compilation
    bytes_[size_++] = b;
  }
  constexpr void Put16(std::uint16_t v) {
    Put(static_cast<std::uint8_t>(v & 0xFF));
    Put(static_cast<std::uint8_t>(v >> 8));
  }
  constexpr void PutText(std::string_view text) {
    for (char c : text) Put(static_cast<std::uint8_t>(c));
    Put(0);
  }
  constexpr void Align() {
    while (size_ % 4 != 0) Put(0);
  }

  std::array<std::uint8_t, Capacity> bytes_{};
  std::size_t size_ = 0;
};

// "a.b.c.d" as two 32-bit halves (a<<16|b, c<<16|d); missing parts count as 0.
constexpr std::array<std::uint32_t, 2> VersionNumbers(std::string_view text) {
  std::array<std::uint32_t, 4> parts{};
  std::size_t part = 0;
  for (char c : text) {
    if (c == '.') {
      if (++part == parts.size()) break;
    } else if (c >= '0' && c <= '9') {
      parts[part] = (parts[part] * 10 + static_cast<std::uint32_t>(c - '0')) & 0xFFFF;
    }
  }
  return {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

constexpr std::size_t VersionBlockCapacity = 2048;

constexpr TVersionBlockWriter<VersionBlockCapacity> BuildVersionBlock(const TVersionStrings& s) {
  // The fixed part: signature, structure version, file and product version (both
  // from the file version), flag mask, flags, 32-bit Windows, application, no
  // subtype, no date: thirteen 32-bit numbers.
  const auto file = VersionNumbers(s.FileVersion);
  const std::array<std::uint32_t, 13> fixedPart = {
      0xFEEF04BD, 0x00010000, file[0], file[1], file[0], file[1], 0x3F, 0, 0x00040004, 1, 0, 0, 0};
  std::array<char, 13 * 4> fixedBytes{};
  for (std::size_t i = 0; i < fixedPart.size(); ++i) {
    for (std::size_t b = 0; b < 4; ++b) {
      fixedBytes[i * 4 + b] = static_cast<char>((fixedPart[i] >> (8 * b)) & 0xFF);
    }
  }
  constexpr std::array<char, 4> translation = {0x09, 0x04, static_cast<char>(0xE4), 0x04};

  TVersionBlockWriter<VersionBlockCapacity> w;
  const std::size_t root =
      w.BeginNode(VersionRootKey, std::string_view(fixedBytes.data(), fixedBytes.size()), false);
  const std::size_t stringInfo = w.BeginNode("StringFileInfo", {}, true);
  const std::size_t table = w.BeginNode(VersionStringBlockKey, {}, true);
  w.Leaf("CompanyName", "");
  w.Leaf("FileDescription", s.FileDescription);
  w.Leaf("FileVersion", s.FileVersion);
  w.Leaf("InternalName", "");
  w.Leaf("LegalCopyright", "");
  w.Leaf("LegalTrademarks", "");
  w.Leaf("OriginalFilename", s.OriginalFilename);
  w.Leaf("ProductName", s.ProductName);
  w.Leaf("ProductVersion", s.ProductVersion);
  w.Leaf("Comments", "");
  w.EndNode(table);
  w.EndNode(stringInfo);
  const std::size_t varInfo = w.BeginNode("VarFileInfo", {}, true);
  w.EndNode(
      w.BeginNode("Translation", std::string_view(translation.data(), translation.size()), false));
  w.EndNode(varInfo);
  w.EndNode(root);
  return w;
}

// The built block cut to its exact size.
template <std::size_t Size>
constexpr std::array<std::uint8_t, Size> VersionBlockBytes(
    const TVersionBlockWriter<VersionBlockCapacity>& w) {
  std::array<std::uint8_t, Size> bytes{};
  for (std::size_t i = 0; i < Size; ++i) bytes[i] = w.At(i);
  return bytes;
}

}  // namespace quillon
