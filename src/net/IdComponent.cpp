#include "net/IdComponent.h"

#include "net/IdException.h"
#include "net/IdStack.h"

namespace quillon {

TIdComponent::TIdComponent() {
  const std::lock_guard<std::mutex> lock(GSocketStackLock);
  ++GSocketUserCount;
  if (GSocketUserCount != 1) return;
  try {
    if (GSocketStackClass == nullptr) throw EIdStackError("No socket stack class.");
    std::unique_ptr<TIdStack> stack = GSocketStackClass();
    GSocketStack.store(stack.release(), std::memory_order_release);
  } catch (...) {
    // A constructor that raises gets no destructor call: take the count back
    // here, so that the next component tries to create the stack again.
    --GSocketUserCount;
    throw;
  }
}

TIdComponent::~TIdComponent() {
  const std::lock_guard<std::mutex> lock(GSocketStackLock);
  --GSocketUserCount;
  if (GSocketUserCount == 0) {
    delete GSocketStack.exchange(nullptr, std::memory_order_acq_rel);
  }
}

}  // namespace quillon
