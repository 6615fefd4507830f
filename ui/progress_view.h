#pragma once
// The progress window's running percentage: its text and its bar.
#include "platform/platform.h"

// Looks the two controls of the progress window up, once per run: each
// lookup is a round trip to the window manager.
void BeginProgressView(WindowHandle dialog);

// Shows percent in the text ("%3d%%") and the bar, then lets one pending
// message through so that the window stays alive during a long write.
// kNothingWritten leaves both as they are.
void ShowRunProgress(int percent);

// A step (files/step_done.h) for work after the run's last percentage: the
// view stays as it is and one pending message goes through.
void LetMessageThrough(void* unused);
