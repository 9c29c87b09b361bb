// Base of the socket-layer components: while any exists the process-wide socket
// stack exists. The first one creates it from GSocketStackClass, the last one
// releases it, both under GSocketStackLock.
#pragma once

namespace quillon {

class TIdBaseComponent {
 public:
  TIdBaseComponent() = default;
  TIdBaseComponent(const TIdBaseComponent&) = delete;
  TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;
  virtual ~TIdBaseComponent() = default;
};

class TIdComponent : public TIdBaseComponent {
 public:
  TIdComponent();  // may raise what the stack's construction raises
  ~TIdComponent() override;
};

}  // namespace quillon
