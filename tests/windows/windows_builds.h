// What differs between the two Windows builds, as their tests see it. The
// tests of both widths are one suite; everything that tells the widths
// apart is named here. A test program is built for one width, WINDOWS_BITS
// (32 or 64); kBuild is that width's entry.
#pragma once

#include <set>
#include <string>
#include <vector>

enum class Plugin { kFilter, kScorer };

struct WindowsBuild {
    int bits;
    const char* wine_arch;        // the architecture of its wine prefix
    bool needs_32_bit_programs;   // its wine loader is a 32-bit x86 program
    std::vector<Plugin> plugins;  // the plug-ins it builds
    const char* suffix;           // of their file names
    const char* file_format;      // the file format, as objdump names it
    const char* magic;            // the optional header's magic
    const char* export_name;      // the entry point, as hosts of this width look it up
    bool binds_700_names;         // the host operations under the Linux build's "_700"
                                  // names, or under their plain ones
    const char* runtime_dll;      // the C runtime it imports from
    // What it takes from runtime_dll, given what the Linux plug-in takes
    // from its C library.
    std::set<std::string> (*runtime_functions)(const std::set<std::string>& linux_c_library);
    std::set<std::string> kernel32_functions;
    bool fast_paths;  // AVX2 and AVX-512 paths and a worker team, as on Linux
    // The x87 precision controls its results are compared at: the ones a
    // host may set, where x87 arithmetic decides the bits. Every other call
    // runs at 53 bits, the precision Windows gives a process.
    std::vector<int> x87_precisions;
    bool flag_read_as_unsigned;  // a progress flag of 2^31 or more
};

// The 32-bit filter computes in x87 registers: exp and log then serve it.
inline std::set<std::string> crtdll_functions(const std::set<std::string>&) { return {"exp", "log"}; }

// What the Linux plug-in takes from its C library but a 64-bit Windows
// plug-in does not take from msvcrt.dll: the POSIX worker team's functions
// (the Windows team is KERNEL32's), the message formatting (the host
// formats a Windows plug-in's messages), memset, memcpy and strlen, which
// GCC makes of zeroing, copying and scanning loops on Linux and is kept
// from making on Windows, and the reading of the control group's CPU quota.
inline std::set<std::string> msvcrt_functions(const std::set<std::string>& linux_c_library) {
    static const std::set<std::string> kLinuxOnly = {
        "pthread_create",        "pthread_join",          "pthread_mutex_init",
        "pthread_mutex_destroy", "pthread_mutex_lock",    "pthread_mutex_unlock",
        "pthread_cond_init",     "pthread_cond_destroy",  "pthread_cond_wait",
        "pthread_cond_broadcast", "pthread_cond_signal",   "pthread_sigmask",
        "sigfillset",            "sigdelset",             "sched_getaffinity",
        "sysconf",               "vsnprintf",             "memset",
        "memcpy",                "strlen",                "open",
        "read",                  "close"};
    std::set<std::string> functions;
    for (const std::string& name : linux_c_library)
        if (kLinuxOnly.count(name) == 0) functions.insert(name);
    return functions;
}

inline const WindowsBuild kWin32{
    32, "win32", true, {Plugin::kFilter}, ".dll", "pei-i386", "010b", "_mexFunction", false,
    "CRTDLL.DLL", crtdll_functions,
    // The start-up in platform/windows/dll_entry.cpp.
    {"DisableThreadLibraryCalls"},
    false, {24, 53, 64}, true};

inline const WindowsBuild kWin64{
    64, "win64", false, {Plugin::kFilter, Plugin::kScorer}, ".mexw64", "pei-x86-64", "020b",
    "mexFunction", true, "msvcrt.dll", msvcrt_functions,
    // The worker team, the start-up in platform/windows/dll_entry.cpp, and the
    // look-up of the host's interrupt query in libut.dll (the Linux build's
    // weak reference to it is no needed symbol).
    {"AcquireSRWLockExclusive", "CloseHandle", "CreateThread", "DisableThreadLibraryCalls",
     "GetCurrentProcess", "GetModuleHandleA", "GetProcAddress", "GetProcessAffinityMask",
     "InitializeConditionVariable", "InitializeSRWLock", "ReleaseSRWLockExclusive",
     "SleepConditionVariableSRW", "WaitForSingleObject", "WakeAllConditionVariable",
     "WakeConditionVariable"},
    true, {53}, false};

inline const WindowsBuild& kBuild = WINDOWS_BITS == 32 ? kWin32 : kWin64;

inline bool builds(Plugin plugin) {
    for (Plugin p : kBuild.plugins)
        if (p == plugin) return true;
    return false;
}
