// The fuzz build's message boxes: the catalogue holds code page 932 texts
// clang cannot encode, and a fuzz target only needs to know a box was asked for.
#include "core/messages.h"

int ShowMessage(MessageId, ...) { return 1; }
