// TXT questions on Linux: res_nquery with a resolver state of the call's own,
// so that threads asking at once share nothing and the wait is ours to choose.
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <array>

#include "net/IdStackPosix.h"

namespace quillon {

TIdTextAnswer TIdStackPosix::QueryText(const std::string& name, int timeoutMs) {
  struct __res_state state {};
  if (res_ninit(&state) != 0) RaiseSocketFailure(Id_WSANO_RECOVERY);
  // One try per server, waiting no longer than the system's resolver would
  // (and at most the caller's time): a resolver that never answers holds an
  // AS question no longer than it holds a reverse name.
  state.retrans = std::min(state.retrans, std::max(1, timeoutMs / 1000));
  state.retry = 1;
  std::array<std::uint8_t, 8192> message{};
  const int length = res_nquery(&state, name.c_str(), ns_c_in, ns_t_txt, message.data(),
                                static_cast<int>(message.size()));
  const int error = state.res_h_errno;
  res_nclose(&state);
  if (length < 0) {
    // The name or its TXT data does not exist: an answer, with no records.
    if (error == HOST_NOT_FOUND || error == NO_DATA) return {};
    RaiseSocketFailure(error == TRY_AGAIN ? Id_WSATRY_AGAIN : Id_WSANO_RECOVERY);
  }
  const auto answer =
      DecodeTxtMessage(message.data(), std::min(static_cast<std::size_t>(length), message.size()));
  if (!answer) RaiseSocketFailure(Id_WSANO_RECOVERY);
  return *answer;
}

}  // namespace quillon
