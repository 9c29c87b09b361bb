// Reading back the terminal's plain hop table in tests: a line's cells, cut
// where the header's column titles start (an AS column too, when there is one).
#pragma once

#include <string>
#include <vector>

namespace quillon {

inline std::vector<std::string> PlainTableCells(const std::string& header,
                                                const std::string& line) {
  std::vector<std::size_t> starts;
  for (const char* title : {"No", "Ip Address", "HostName", "Time ", "TTL", "Time Chart"}) {
    starts.push_back(header.find(title));
  }
  // The AS column, with AS lookups, follows the address.
  if (const std::size_t as = header.find("  AS "); as != std::string::npos)
    starts.insert(starts.begin() + 2, as + 2);
  std::vector<std::string> cells;
  std::size_t from = 0;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t to = i + 1 < starts.size() ? starts[i + 1] : std::string::npos;
    std::string cell =
        from < line.size() ? line.substr(from, to == std::string::npos ? to : to - from) : "";
    const auto first = cell.find_first_not_of(' ');
    cell = first == std::string::npos ? ""
                                      : cell.substr(first, cell.find_last_not_of(' ') - first + 1);
    cells.push_back(cell);
    from = to;
  }
  return cells;
}

}  // namespace quillon
