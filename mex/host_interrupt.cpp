// How each host tells a plug-in that the user has interrupted the running
// call (Ctrl-C), and how the plug-in then leaves; host_api.h has the
// contract.
#include "host_api.h"

#if defined(MEX_HOST_OCTAVE)

#include "quit.h"

namespace {

// Octave's signal handler counts an interrupt in octave_interrupt_state and
// flags a caught signal; octave_quit() turns them into Octave's interrupt.
bool octave_interrupt_pending() { return octave_signal_caught && octave_interrupt_state > 0; }

}  // namespace

HostInterruptQuery host_interrupt_query() { return {octave_interrupt_pending}; }

void host_leave_interrupted(const char* identifier, const char* message) {
    octave_quit();
    // Only if the interrupt was taken back in the meantime.
    host_raise(identifier, message);
}

#else

#if defined(_WIN64)

#include <windows.h>

// libut.dll is one of the host's own DLLs, loaded before any plug-in; asking
// the loader for it adds no import but KERNEL32's.
HostInterruptQuery host_interrupt_query() {
    const HMODULE ut = GetModuleHandleA("libut.dll");
    if (ut == nullptr) return {nullptr};
    const FARPROC found = GetProcAddress(ut, "utIsInterruptPending");
    return {reinterpret_cast<bool (*)()>(reinterpret_cast<void (*)()>(found))};
}

#elif defined(_WIN32)

// The 32-bit Windows build imports nothing from kernel32.dll but what its
// start-up needs, so it has no way to look libut up: it is not asked.
HostInterruptQuery host_interrupt_query() { return {nullptr}; }

#else

// A weak reference: the loader binds it to libut's function, which the host
// process has loaded before any plug-in, and leaves it null where no library
// of the process defines it. It adds no needed library (dlsym would need
// libdl on glibc before 2.34).
#if defined(__APPLE__)
extern "C" bool utIsInterruptPending() __attribute__((weak_import));
#else
extern "C" bool utIsInterruptPending() __attribute__((weak));
#endif

HostInterruptQuery host_interrupt_query() { return {utIsInterruptPending}; }

#endif

void host_leave_interrupted(const char* identifier, const char* message) {
    host_raise(identifier, message);
}

#endif
