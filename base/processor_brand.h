#pragma once
// Tells apart, by the name a processor gives of itself, a processor that
// QEMU makes in software. Programs run there by its user-mode emulator
// (qemu-i386 under Wine on machines without 32-bit support) have been seen
// to die when they start a second thread, so the program keeps to one
// thread there (platform/emulated_processor.h).
//
// `brand` is the 48-byte brand string of CPUID leaves 0x80000002-4, which
// need not be terminated; QEMU's own models name themselves "QEMU ...":
// "QEMU TCG CPU version 2.5+" for its software `max` model, "QEMU Virtual
// CPU version 2.5+" for qemu32/qemu64. A real processor under QEMU's
// hardware-assisted virtualisation keeps its own name.
#include <cstddef>

constexpr std::size_t kProcessorBrandBytes = 48;

bool BrandNamesQemu(const char (&brand)[kProcessorBrandBytes]);
