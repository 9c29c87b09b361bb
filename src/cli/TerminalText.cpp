#include "cli/TerminalText.h"

#include <cstdint>

namespace quillon {
namespace {

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  const auto u = static_cast<std::uint32_t>(c);
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

// Decodes one code point at pos and moves pos past it; an invalid sequence
// (overlong, surrogate, beyond U+10FFFF, cut short) gives U+FFFD for its first byte.
char32_t DecodeNext(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<std::uint8_t>(text[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  std::uint32_t value = 0;
  std::uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, minimum = 0x10000;
  } else {
    ++pos;
    return Replacement;
  }
  if (pos + length > text.size()) {
    ++pos;
    return Replacement;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return Replacement;
    }
    value = value << 6 | (next & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++pos;
    return Replacement;
  }
  pos += length;
  return static_cast<char32_t>(value);
}

char32_t Visible(char32_t c) {
  if (c < 0x20) return 0x2400 + c;  // control pictures: U+2400 NUL .. U+241F US
  if (c == 0x7F) return 0x2421;
  if (c >= 0x80 && c <= 0x9F) return Replacement;
  // Characters that reorder or break the surrounding text.
  if ((c >= 0x200E && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
      (c >= 0x2066 && c <= 0x2069)) {
    return Replacement;
  }
  return c;
}

int CodePointWidth(char32_t c) {
  if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
      (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
      (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200C ||
      c == 0x200D) {
    return 0;
  }
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
      (c >= 0x3041 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
      (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) ||
      (c >= 0x20000 && c <= 0x3FFFD)) {
    return 2;
  }
  return 1;
}

}  // namespace

std::string SanitizeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) AppendUtf8(out, Visible(DecodeNext(text, pos)));
  return out;
}

int DisplayWidth(std::string_view text) {
  int width = 0;
  std::size_t pos = 0;
  while (pos < text.size()) width += CodePointWidth(Visible(DecodeNext(text, pos)));
  return width;
}

std::string FitToWidth(std::string_view text, int width, bool alignRight) {
  if (width <= 0) return {};
  const std::string clean = SanitizeForTerminal(text);
  if (DisplayWidth(clean) <= width) {
    const std::string padding(static_cast<std::size_t>(width - DisplayWidth(clean)), ' ');
    return alignRight ? padding + clean : clean + padding;
  }
  // Keep what fits in width - 1 columns, then the ellipsis.
  std::string out;
  int used = 0;
  std::size_t pos = 0;
  while (pos < clean.size()) {
    const std::size_t start = pos;
    const int w = CodePointWidth(DecodeNext(clean, pos));
    if (used + w > width - 1) break;
    used += w;
    out.append(clean, start, pos - start);
  }
  out += "\u2026";
  ++used;
  out.append(static_cast<std::size_t>(width - used), ' ');
  return out;
}

}  // namespace quillon
