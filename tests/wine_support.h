// What the suites that run Windows programs under wine share: shell
// commands and their output, scratch directories, Windows paths, distances
// in units in the last place, and whether this machine's kernel runs 32-bit
// x86 programs at all (the 32-bit wine loader is one).
#pragma once

#include <errno.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace wine {

inline std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Runs a shell command; its standard output (and error) land in *output.
inline int run_command(const std::string& command, std::string* output) {
    char log_path[] = "/tmp/wine_test_log_XXXXXX";
    const int fd = mkstemp(log_path);
    if (fd < 0) return -1;
    close(fd);
    const int status = system((command + " > " + quoted(log_path) + " 2>&1").c_str());
    std::ifstream log(log_path);
    std::stringstream text;
    text << log.rdbuf();
    *output = text.str();
    unlink(log_path);
    return status;
}

// A directory of its own for one test's files, removed with it.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        char name[] = "/tmp/wine_test_XXXXXX";
        path = mkdtemp(name);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// Wine sees the Unix file system as drive Z:.
inline std::string windows_path(const std::string& path) { return quoted("Z:" + path); }

// Distance in units in the last place; NaN is at no distance from NaN and
// at an infinite one from anything else.
template <typename T>
int64_t ulps_apart(T a, T b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INT64_MAX;
    typedef std::conditional_t<sizeof(T) == 4, int32_t, int64_t> Bits;
    const auto ordered = [](T x) {
        const Bits bits = std::bit_cast<Bits>(x);
        const Bits magnitude = bits & std::numeric_limits<Bits>::max();
        return bits < 0 ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    };
    const int64_t d = ordered(a) - ordered(b);
    return d < 0 ? -d : d;
}

// Whether this machine's kernel executes 32-bit x86 programs: it starts a
// 93-byte 32-bit ELF program that only exits with status 0. A kernel built
// without 32-bit support (or with it switched off) refuses it with ENOEXEC,
// "Exec format error", and so refuses the 32-bit wine loader. `reason` says
// what happened when the answer is no.
inline bool kernel_runs_32_bit_programs(std::string* reason) {
    static const unsigned char kProgram[] = {
        // ELF header: 32-bit, little-endian, executable for the i386.
        0x7f, 'E', 'L', 'F', 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // e_ident
        2, 0, 3, 0,                                                // e_type, e_machine
        1, 0, 0, 0,                                                // e_version
        0x54, 0x80, 0x04, 0x08,                                    // e_entry 0x08048054
        0x34, 0, 0, 0,                                             // e_phoff 52
        0, 0, 0, 0,                                                // e_shoff
        0, 0, 0, 0,                                                // e_flags
        0x34, 0, 0x20, 0, 1, 0,                                    // e_ehsize, e_phentsize, e_phnum
        0, 0, 0, 0, 0, 0,                                          // no sections
        // One loadable segment, the whole file, readable and executable.
        1, 0, 0, 0,              // p_type PT_LOAD
        0, 0, 0, 0,              // p_offset
        0, 0x80, 0x04, 0x08,     // p_vaddr 0x08048000
        0, 0x80, 0x04, 0x08,     // p_paddr
        93, 0, 0, 0,             // p_filesz
        93, 0, 0, 0,             // p_memsz
        5, 0, 0, 0,              // p_flags R+X
        0, 0x10, 0, 0,           // p_align
        // mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
        0xb8, 1, 0, 0, 0, 0x31, 0xdb, 0xcd, 0x80};
    static_assert(sizeof kProgram == 93);
    char path[] = "/tmp/elf32_probe_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        *reason = std::string("cannot write the probe program: ") + strerror(errno);
        return false;
    }
    const bool written = write(fd, kProgram, sizeof kProgram) == static_cast<ssize_t>(sizeof kProgram);
    close(fd);
    chmod(path, 0700);
    pid_t pid;
    char* const argv[] = {path, nullptr};
    const int error = written ? posix_spawn(&pid, path, nullptr, nullptr, argv, environ) : EIO;
    int status = -1;
    if (error == 0) waitpid(pid, &status, 0);
    unlink(path);
    if (error != 0) {
        *reason = std::string("this kernel cannot execute 32-bit x86 programs (") +
                  (error == ENOEXEC ? "ENOEXEC, " : "") + strerror(error) + ")";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *reason = "a 32-bit x86 program did not run to its end here";
        return false;
    }
    return true;
}

}  // namespace wine
