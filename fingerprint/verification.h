#pragma once
#include <cstdint>

#include "files/step_done.h"
#include "fingerprint/records.h"
#include "platform/platform.h"

// True when the installation's fingerprint module matches its own record and
// the game executable matches the module's record of it.
bool VerifyInstallation(const char* installFolder);

// The game executable's name, "<abbreviation>.exe"; false when it does not fit.
bool FormExecutableName(char (&name)[kPathSize]);

enum class GameFileCheck { Intact, ModuleFails, ExecutableFails };
// The check of VerifyInstallation over any two files: the module against its
// own record, then the executable against the module's record of the game
// executable. afterPiece is told after each piece read (the run's window
// lets a message through there; before the window exists nothing).
GameFileCheck VerifyGameFiles(const char* modulePath, const char* executablePath, StepDone afterPiece = {});
bool VerifyFingerprintModule(const char* modulePath, StepDone afterPiece = {});
// Copies the raw-data resource `name` of `module` into the zero-filled copy.
// Releases `module` on every path.
bool ReadFingerprintRecord(const char* name, ModuleHandle module, uint8_t (&copy)[kRecordCopySize]);
// Checksum of a whole file, read in bounded pieces, afterPiece told after each.
bool ComputeFileChecksum(const char* path, ChecksumWindow window, ChecksumPair* result, StepDone afterPiece = {});
