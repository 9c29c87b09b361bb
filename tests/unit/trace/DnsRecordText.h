// Name cache records written out by hand, for the file tests.
#pragma once

#include <cstddef>
#include <string>

namespace quillon {

// A record as the file holds it, built by hand: the ".dnb" file's address field
// is 20 characters wide, the ".dn6" file's 63; the date starts on the next
// 8-byte boundary after the 255-character name.
inline std::string HandMadeRecord(const std::string& address, const std::string& name,
                                  const std::string& dateBytes, std::size_t addressWidth = 20) {
  const std::size_t nameAt = 1 + addressWidth;
  const std::size_t dateAt = (nameAt + 1 + 255 + 7) / 8 * 8;
  std::string record(dateAt + 8, '\0');
  record[0] = static_cast<char>(address.size());
  record.replace(1, address.size(), address);
  record[nameAt] = static_cast<char>(name.size());
  record.replace(nameAt + 1, name.size(), name);
  record.replace(dateAt, 8, dateBytes);
  return record;
}

inline std::string HandMadeRecord6(const std::string& address, const std::string& name,
                                   const std::string& dateBytes) {
  return HandMadeRecord(address, name, dateBytes, 63);
}

// 2023-03-15 13:14:15.678 as the file stores it.
inline const std::string FixedDateBytes("\x58\xdb\x76\xa6\x11\xf9\xe5\x40", 8);

}  // namespace quillon
