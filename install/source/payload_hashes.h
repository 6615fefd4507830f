#pragma once
// The build's hashes of its own payload (install/source/payload_hashes_format.h):
// a download damaged on its way is refused before anything is asked, and
// every new file must give the content the build recorded for it.
#include "install/source/payload_hashes_format.h"

// True when the build's table is there and intact, every resource it lists
// is carried with exactly its recorded bytes, and every resource the run may
// read (each payload file whole or compressed, its deltas, the entry list)
// is listed. Reads the resources only: nothing is opened.
bool CarriedPayloadIntact();

// The record of the resource `name` that carries its file as `kind`, from a
// table found intact; false when there is none.
bool FindPayloadHash(CarriedKind kind, const char* name, PayloadHash* record);
