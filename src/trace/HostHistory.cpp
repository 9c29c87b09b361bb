#include "trace/HostHistory.h"

#include "platform/AtomicFile.h"

namespace quillon {

std::vector<std::string> ParseHostHistory(std::string_view text) {
  // Whatever follows a zero byte is not part of the list.
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) {
    text = text.substr(0, zero);
  }
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  return lines;
}

std::string FormatHostHistory(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool ReadHostHistory(const std::string& path, std::vector<std::string>& lines) {
  std::string text;
  if (!ReadFileContents(path, text)) return false;
  lines = ParseHostHistory(text);
  return true;
}

bool WriteHostHistory(const std::string& path, const std::vector<std::string>& lines) {
  return ReplaceFileContents(path, FormatHostHistory(lines));
}

}  // namespace quillon
