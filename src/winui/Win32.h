// The system's window headers for the native windows. The engine's message
// queue names WM_USER and PostMessage itself, which the system's headers make
// macros of, so the engine's header comes first and the macro that would rename
// the queue's method is dropped.
#pragma once

// clang-format off
#include "platform/MessageQueue.h"
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on
#undef PostMessage
