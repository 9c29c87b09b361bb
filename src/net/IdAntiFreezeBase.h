// The anti-freeze keeps the window responsive while the main thread waits on a
// socket: the readable-wait cuts long waits into slices and calls AntiFreezeStep
// after each one. It acts only on the main thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/IdComponent.h"

namespace quillon {

class TIdAntiFreezeBase : public TIdBaseComponent {
 public:
  TIdAntiFreezeBase();  // becomes GCurrentAntiFreeze
  ~TIdAntiFreezeBase() override;  // GCurrentAntiFreeze becomes none

  bool Active = true;
  bool ApplicationHasPriority = true;
  bool OnlyWhenIdle = true;
  std::int32_t IdleTimeOut() const { return idleTimeOut_; }
  // Refuses 0 or less (std::invalid_argument): the wait slicing divides by it.
  void SetIdleTimeOut(std::int32_t milliseconds);

  virtual void PumpMessages() = 0;

 private:
  std::int32_t idleTimeOut_ = 250;
};

extern std::atomic<TIdAntiFreezeBase*> GCurrentAntiFreeze;

// An anti-freeze exists, is active, and the caller is the main thread.
bool AntiFreezeApplies();
// Called after every wait slice, on every thread.
void AntiFreezeStep(bool idle, bool overrideIdle);

}  // namespace quillon
