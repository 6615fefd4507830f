#include "core/screen_text.h"

void SetScreenText(WindowHandle window, const char* text) {
  char16_t units[kScreenTextUnits];
  PlatformTextToScreen(text, units, kScreenTextUnits);
  PlatformSetWindowText(window, units);
}
