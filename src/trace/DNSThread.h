// A reverse-name worker: looks up the host name of one hop address on its own
// thread and reports with one posted WM_NAME_RESOLVED; the window reads the result
// from the worker object and releases it while handling that message.
#pragma once

#include <cstdint>
#include <string>

#include "platform/MessageQueue.h"
#include "platform/Thread.h"

namespace quillon {

// What a failed lookup shows after the address.
inline constexpr const char* NoDnsSuffix = "[no DNS]";

class TDNSThread : public TThread {
 public:
  TDNSThread();
  ~TDNSThread() override;

  // Set before Start and read-only afterwards, except HostName, which only the
  // worker writes before it posts.
  std::string Address;
  std::string HostName;
  std::int32_t RunId = 0;
  std::int32_t HopNo = 0;
  std::int32_t SlotIndex = 0;
  HWND Window = 0;
  // Repeated in the message's tag: tells this worker from a later one in its slot.
  const std::uint64_t Serial;

 protected:
  void Execute() override;
};

}  // namespace quillon
