#pragma once
// How long a window keeps a caller waiting: from the moment it is started
// until the window is gone, a thread of its own sends the window WM_NULL
// with SendMessageTimeout every few milliseconds and times each reply. A
// program that is busy answers only where it lets a message through, so
// the slowest replies say where it went longest without one. With each of
// them it notes what the window's percentage control showed before and
// after, and whether a marker file existed (the switch journal: the switch
// has begun), to tell the stretches of a run apart.
#include <windows.h>

#include <string>

struct WindowPing;

// Starts pinging window every everyMs milliseconds; markPath may be empty.
// startTick: the watcher's own start, which its times count from.
WindowPing* StartWindowPing(HWND window, int percentControlId, DWORD everyMs, const std::string& markPath,
                            DWORD startTick);

// Waits for the pinging to end (the window gone) and gives the JSON fields
// of the report: the replies counted, when the ping started (milliseconds
// since startTick), when the last reply came and, slowest first, the
// slowest replies with when each was sent (both since the ping started).
// Frees ping.
std::string FinishWindowPing(WindowPing* ping);
