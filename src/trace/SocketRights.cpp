#include "trace/SocketRights.h"

#include "net/IdException.h"
#include "net/IdStackConsts.h"

namespace quillon {

bool IsPrivilegeFailure(const std::exception& error) {
  if (dynamic_cast<const EIdInvalidSocket*>(&error) != nullptr) return true;
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&error);
  return socketError != nullptr && socketError->ErrorCode == Id_WSAEACCES;
}

std::string ErrorTextWithHint(const std::exception& error, const std::string& programPath) {
  std::string text = error.what();
  // Appended piece by piece: GCC 12 at -O3 sees an overlap in "\n" + hint.
  if (IsPrivilegeFailure(error)) text.append(1, '\n').append(PrivilegeHint(programPath));
  return text;
}

}  // namespace quillon
