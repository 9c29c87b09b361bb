#pragma once

#include "net/IdAntiFreezeBase.h"

namespace quillon {

// Pumps the platform's window-message queue (TMessageQueue::Main()).
class TIdAntiFreeze : public TIdAntiFreezeBase {
 public:
  void PumpMessages() override;
};

}  // namespace quillon
