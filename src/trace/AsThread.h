// An AS worker: asks the public IP-to-AS zone one TXT question on its own
// thread (which AS announces an address, or what an AS is called) and reports
// with one posted WM_AS_RESOLVED. The window keeps the answer in the AS cache
// and releases the worker while handling that message. Answers belong to no
// run: a late one is as good as any, so workers stay in their slots across
// Starts and nothing waits for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/MessageQueue.h"
#include "platform/Thread.h"

namespace quillon {

// The longest a worker waits for each DNS server (where the system lets the
// wait be chosen; never longer than the system waits for a reverse name), and
// the longest the terminal waits after a run for answers still due.
constexpr int AsQueryTimeoutMs = 2000;

class TAsThread : public TThread {
 public:
  TAsThread();
  ~TAsThread() override;

  // Set before Start and read-only afterwards, except the results, which only
  // the worker writes before it posts.
  std::string Question;      // the name asked for its TXT records
  std::string Address;       // an address's question: the address
  std::uint32_t Number = 0;  // an AS name's question: the AS number
  std::int32_t SlotIndex = 0;
  HWND Window = 0;
  const std::uint64_t Serial;
  // Results: whether an answer came (with no records for "no record"), and
  // each record's strings joined.
  bool Answered = false;
  std::vector<std::string> Answers;

 protected:
  void Execute() override;
};

}  // namespace quillon
