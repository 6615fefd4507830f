#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "platform/win_values.h"

// Sent once by the main flow; the whole installation runs while it is handled.
constexpr unsigned UWM_START_UPDATE = WM_USER + 0x100;

intptr_t ProgressDialogProc(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);
