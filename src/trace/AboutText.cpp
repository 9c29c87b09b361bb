#include "trace/AboutText.h"

namespace quillon {

std::string ProductLine(const std::string& version) {
  return "Free Quillon ( Version " + version + " )";
}

std::string QuotedProgram(const std::string& command) {
  const std::size_t open = command.find('"');
  const std::string rest = open == std::string::npos ? command : command.substr(open + 1);
  const std::size_t close = rest.find('"');
  return close == std::string::npos ? std::string() : rest.substr(0, close);
}

}  // namespace quillon
