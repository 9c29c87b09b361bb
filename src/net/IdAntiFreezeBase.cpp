#include "net/IdAntiFreezeBase.h"

#include <stdexcept>
#include <string>

#include "platform/Process.h"

namespace quillon {

std::atomic<TIdAntiFreezeBase*> GCurrentAntiFreeze{nullptr};

TIdAntiFreezeBase::TIdAntiFreezeBase() {
  GCurrentAntiFreeze.store(this);
}

// Whichever instance goes, none is left in force: a replaced instance that is freed
// later therefore also switches the newer one off, but never leaves a dangling one.
TIdAntiFreezeBase::~TIdAntiFreezeBase() {
  GCurrentAntiFreeze.store(nullptr);
}

void TIdAntiFreezeBase::SetIdleTimeOut(std::int32_t milliseconds) {
  if (milliseconds <= 0) {
    throw std::invalid_argument("IdleTimeOut must be above 0 milliseconds, not " +
                                std::to_string(milliseconds));
  }
  idleTimeOut_ = milliseconds;
}

bool AntiFreezeApplies() {
  // The thread is checked before the properties are read, so that workers never
  // touch fields that only the main thread writes.
  TIdAntiFreezeBase* antiFreeze = GCurrentAntiFreeze.load();
  return antiFreeze != nullptr && IsMainThread() && antiFreeze->Active;
}

void AntiFreezeStep(bool idle, bool overrideIdle) {
  if (!AntiFreezeApplies()) return;
  TIdAntiFreezeBase* antiFreeze = GCurrentAntiFreeze.load();
  if ((idle || !antiFreeze->OnlyWhenIdle || overrideIdle) && antiFreeze->Active) {
    antiFreeze->PumpMessages();
  }
}

}  // namespace quillon
