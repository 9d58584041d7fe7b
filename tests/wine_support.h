// Shell commands and their output, scratch directories, Windows paths and
// distances in units in the last place, for the tests that run Windows
// programs under wine or read Windows files.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace wine
