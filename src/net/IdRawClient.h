#pragma once

#include "net/IdRawBase.h"

namespace quillon {

// Republishes the raw component's properties; adds nothing else.
class TIdRawClient : public TIdRawBase {};

}  // namespace quillon
