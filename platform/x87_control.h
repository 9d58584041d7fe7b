// The x87 unit's precision control, which the host process sets (Linux runs
// it at 64 bits, Windows at 53). Included by the x86 family headers.
#pragma once

#include <stdint.h>

// Computes at the full 64 bits while it lives and restores the host's
// setting after; only the error messages' number formatting uses it, so
// that their digits do not depend on the host.
struct FullX87Precision {
    uint16_t saved;
    FullX87Precision() {
        __asm__ volatile("fnstcw %0" : "=m"(saved));
        const uint16_t full = static_cast<uint16_t>(saved | 0x300);
        __asm__ volatile("fldcw %0" : : "m"(full) : "memory");
    }
    ~FullX87Precision() { __asm__ volatile("fldcw %0" : : "m"(saved) : "memory"); }
    // The value is read only after the setting has changed: an empty
    // volatile statement, which keeps its place after the fldcw, hands it on.
    static double after_setting(double value) {
        __asm__ volatile("" : "+m"(value));
        return value;
    }
    FullX87Precision(const FullX87Precision&) = delete;
    FullX87Precision& operator=(const FullX87Precision&) = delete;
};
