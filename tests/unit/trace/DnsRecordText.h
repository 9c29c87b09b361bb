// Name cache records written out by hand, for the file tests.
#pragma once

#include <string>

namespace quillon {

// A record as the file holds it, built by hand.
inline std::string HandMadeRecord(const std::string& address, const std::string& name,
                                  const std::string& dateBytes) {
  std::string record(288, '\0');
  record[0] = static_cast<char>(address.size());
  record.replace(1, address.size(), address);
  record[21] = static_cast<char>(name.size());
  record.replace(22, name.size(), name);
  record.replace(280, 8, dateBytes);
  return record;
}

// 2023-03-15 13:14:15.678 as the file stores it.
inline const std::string FixedDateBytes("\x58\xdb\x76\xa6\x11\xf9\xe5\x40", 8);

}  // namespace quillon
