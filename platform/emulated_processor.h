#pragma once
// Whether this process runs on a processor that QEMU names as its own (see
// base/processor_brand.h for why that matters and how it is told). The
// Win32 backend asks it before it starts a thread of the program's own.
bool ProcessorNamesQemu();
