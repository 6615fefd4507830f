#pragma once
// The last step of every text on its way to the screen: the code page 932
// bytes of the program become the UTF-16 the window functions take.
#include <cstddef>

#include "platform/platform.h"

// UTF-16 units that hold any text of the program, terminator included: no
// text is longer than the formatter's 1024 bytes, and no byte becomes more
// than one unit.
constexpr std::size_t kScreenTextUnits = 1024;

// Sets the title of a window, or the text of a control.
void SetScreenText(WindowHandle window, const char* text);
