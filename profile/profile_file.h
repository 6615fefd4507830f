#pragma once
// The per-user profile file that tells where the game is installed and which
// update was applied last.
#include "files/step_done.h"

// Fills appDataFolder and installFolder of g_state. Shows a message only when
// no application-data folder exists at all.
bool LocateInstallation();
// True when the recorded update number is this build's or a later one, so
// the user should be asked whether to update again.
bool IsUpdateRecorded();
// Writes this build's update number as the update record, into the
// profile file only while it is a plain file of its folder (no link, on the
// folder's volume, under its final path): a record that cannot be written
// so is left unwritten; afterStep is told after its read.
// Always true.
bool RecordUpdate(StepDone afterStep = {});

// The standard text-to-number reading of a record: leading white space, an
// optional sign, digits with an optional decimal point and exponent; stops at
// the first byte that cannot continue the number; no number at all is 0.
double ParseRecordNumber(const char* text);
