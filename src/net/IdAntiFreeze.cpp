#include "net/IdAntiFreeze.h"

#include "platform/MessageQueue.h"

namespace quillon {

void TIdAntiFreeze::PumpMessages() {
  TMessageQueue& queue = TMessageQueue::Main();
  if (ApplicationHasPriority) {
    queue.ProcessMessages();
  } else {
    queue.ProcessOneMessage();  // returns at once when nothing waits
  }
}

}  // namespace quillon
