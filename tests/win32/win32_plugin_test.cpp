// The 32-bit Windows filter, TARV_c.dll, as a host uses it: its binary
// interface read with i686-w64-mingw32-objdump, and its calls made under
// wine by the Windows test host (win_runner.exe) on the same inputs as the
// Linux plug-in, which this process calls through the test host.
//
// The Windows build computes in the x87 registers at the precision the host
// process has set, rounding to single precision where a named quantity is
// stored. Its results are checked bit for bit against the reference loop in
// win_runner.cpp (run under wine with the same precision control and the
// same CRTDLL.DLL exp and log), and against the Linux build within a few
// units in the last place.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "call_record.h"
#include "test_host.h"

namespace {

const std::string kLinuxPlugin = TARV_C_PLUGIN;
const std::string kWin32Dir = WIN32_BUILD_DIR;
const std::string kWinePrefix = WINE_PREFIX_DIR;


// --- running commands ----------------------------------------------------------

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Runs a shell command; its standard output (and error) land in *output.
int run_command(const std::string& command, std::string* output) {
    char log_path[] = "/tmp/win32_test_log_XXXXXX";
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
        char name[] = "/tmp/win32_test_XXXXXX";
        path = mkdtemp(name);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// --- one call on both platforms --------------------------------------------

// The eight inputs of a call, owned here; written to array files for the
// Windows test host.
struct Inputs {
    std::vector<mxArray*> arrays;
    Inputs() = default;
    Inputs(const Inputs&) = delete;
    Inputs& operator=(const Inputs&) = delete;
    ~Inputs() {
        for (mxArray* array : arrays) mxDestroyArray(array);
    }
};

// What one call did, in the same terms for both platforms.
struct Outcome {
    std::string status;  // "ok" or "error IDENTIFIER"
    std::string message;
    std::vector<float> values;
    std::vector<std::string> calls;
    size_t leftover = 0;
    bool unchanged = true;
    long long heap = 0;  // Windows: heap a repeated call left in use
    std::string x87;     // Windows: control word before and after the call
};

Outcome run_linux(const Inputs& inputs, int fail_at = 0) {
    static const testhost::Plugin plugin = [] {
        std::string error;
        testhost::Plugin loaded = testhost::load_plugin(kLinuxPlugin, &error);
        if (loaded.entry == nullptr) ADD_FAILURE() << error;
        return loaded;
    }();
    testhost::ProgressRecorder recorder;
    recorder.fail_at = fail_at;
    testhost::install_progress_recorder(&recorder);
    testhost::CallResult result = testhost::call(plugin, 1, inputs.arrays);
    standin_clear_functions();
    Outcome outcome;
    outcome.status = result.ok ? "ok" : "error " + result.error_id;
    outcome.message = result.error_message;
    if (result.result != nullptr) {
        outcome.values = testhost::single_values(result.result);
        mxDestroyArray(result.result);
    }
    outcome.calls = describe_calls(recorder.calls);
    outcome.leftover = result.leftover_arrays;
    outcome.unchanged = result.inputs_unchanged;
    return outcome;
}

// Runs win_runner.exe under wine with the x87 precision control at
// `precision` bits; with `reference`, its reference loop instead of the
// plug-in. With `fail_at` k > 0 the k-th "waitbar" or "close" call fails.
Outcome run_windows(const Inputs& inputs, int precision, bool reference = false, int fail_at = 0) {
    Outcome outcome;
    ScratchDir dir;
    std::string command = "WINEPREFIX=" + quoted(kWinePrefix) +
                          " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " + quoted(WINE_PROGRAM) +
                          " " +
                          quoted(kWin32Dir + "/win_runner.exe") + " --x87 " +
                          std::to_string(precision) + " --fail-at " + std::to_string(fail_at) +
                          (reference ? " --reference" : "");
    // Wine sees the Unix file system as drive Z:.
    const auto windows_path = [](const std::string& path) { return quoted("Z:" + path); };
    command += " " + windows_path(kWin32Dir + "/TARV_c.dll") + " " +
               windows_path(dir.file("out.mxa")) + " " + windows_path(dir.file("report.txt"));
    for (size_t k = 0; k < inputs.arrays.size(); ++k) {
        const std::string path = dir.file("in" + std::to_string(k) + ".mxa");
        EXPECT_TRUE(testhost::write_array_file(path, inputs.arrays[k]));
        command += " " + windows_path(path);
    }
    std::string output;
    const int status = run_command(command, &output);
    EXPECT_EQ(status, 0) << command << "\n" << output;

    std::ifstream report(dir.file("report.txt"));
    std::string line;
    while (std::getline(report, line)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "status") {
            outcome.status = value;
        } else if (key == "message") {
            outcome.message = value;
        } else if (key == "leftover") {
            outcome.leftover = std::stoul(value);
        } else if (key == "unchanged") {
            outcome.unchanged = value == "1";
        } else if (key == "heap") {
            outcome.heap = std::stoll(value);
        } else if (key == "x87") {
            outcome.x87 = value;
        } else if (key == "call") {
            outcome.calls.push_back(value);
        }
    }
    EXPECT_FALSE(outcome.status.empty()) << "no report from " << command << "\n" << output;
    if (outcome.status == "ok") {
        std::string error;
        mxArray* result = testhost::read_array_file(dir.file("out.mxa"), &error);
        EXPECT_NE(result, nullptr) << error;
        if (result != nullptr) {
            outcome.values = testhost::single_values(result);
            mxDestroyArray(result);
        }
    }
    return outcome;
}

// The control word the test host set: precision field 0, 2 or 3 and every
// other bit as after fninit.
std::string control_word(int precision) {
    const int field = precision == 24 ? 0 : precision == 53 ? 2 : 3;
    const std::string word = hex_bits(static_cast<uint64_t>(0x07f | field << 8), 4);
    return word + " " + word;
}

// --- images and arguments --------------------------------------------------------

struct FilterCase {
    const char* name;
    uint32_t rows, cols;
    float low, high;  // log intensities drawn uniformly from [low, high]
    double iterations, lambda;
    double first_row, last_row, first_col, last_col;  // 1-based, inclusive
    double flag;
    uint32_t flat_rows = 0, flat_cols = 0;  // a constant patch at the top left
};

void add_scalar(Inputs& inputs, double value) { inputs.arrays.push_back(testhost::make_scalar(value)); }

void make_inputs(const FilterCase& c, Inputs& inputs) {
    std::mt19937 random(c.rows * 7919u + c.cols);
    std::uniform_real_distribution<float> draw(c.low, c.high);
    std::vector<float> image(static_cast<size_t>(c.rows) * c.cols);
    for (float& value : image) value = draw(random);
    for (uint32_t j = 0; j < c.flat_cols; ++j)
        for (uint32_t i = 0; i < c.flat_rows; ++i) image[i + c.rows * j] = 1.0f;
    inputs.arrays.push_back(testhost::make_single(c.rows, c.cols, image));
    for (double scalar :
         {c.iterations, c.lambda, c.first_row, c.last_row, c.first_col, c.last_col, c.flag})
        add_scalar(inputs, scalar);
}

// Distance in units in the last place; NaN is at no distance from NaN and
// at an infinite one from anything else.
int64_t ulps_apart(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INT64_MAX;
    const auto ordered = [](float x) {
        const int32_t bits = std::bit_cast<int32_t>(x);
        return bits < 0 ? -static_cast<int64_t>(bits & 0x7fffffff) : static_cast<int64_t>(bits);
    };
    return std::llabs(ordered(a) - ordered(b));
}

// The same distance for filter results, which are logarithms: a result
// within (-1, 1) comes from a working value near 1, whose 24-bit precision
// it carries as an absolute 2^-23 or so, far coarser than its own ulp. There
// the unit is 2^-23, the ulp of 1.
int64_t result_ulps_apart(float a, float b) {
    if (std::fabs(a) < 1.0f && std::fabs(b) < 1.0f)
        return static_cast<int64_t>(std::ceil(std::fabs(static_cast<double>(a) - b) / 0x1p-23));
    return ulps_apart(a, b);
}

::testing::AssertionResult same_bits(const std::vector<float>& expected,
                                     const std::vector<float>& actual, uint32_t rows) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "sizes differ: " << expected.size() << " and "
                                             << actual.size();
    for (size_t k = 0; k < expected.size(); ++k) {
        const uint32_t a = std::bit_cast<uint32_t>(expected[k]);
        const uint32_t b = std::bit_cast<uint32_t>(actual[k]);
        if (a != b && !(std::isnan(expected[k]) && std::isnan(actual[k])))
            return ::testing::AssertionFailure()
                   << "row " << k % rows << ", column " << k / rows << ": expected 0x"
                   << hex_bits(a, 8) << " (" << expected[k] << "), got 0x" << hex_bits(b, 8)
                   << " (" << actual[k] << ")";
    }
    return ::testing::AssertionSuccess();
}

// The facts besides the values that must agree between the two builds.
void expect_same_behaviour(const Outcome& linux_outcome, const Outcome& windows) {
    EXPECT_EQ(windows.status, linux_outcome.status);
    EXPECT_EQ(windows.message, linux_outcome.message);
    EXPECT_EQ(windows.calls, linux_outcome.calls);
    EXPECT_EQ(windows.leftover, 0u);
    EXPECT_TRUE(windows.unchanged);
    EXPECT_EQ(windows.heap, 0);
}

// --- the binary interface ----------------------------------------------------------

std::string objdump_p() {
    std::string output;
    EXPECT_EQ(run_command(quoted(MINGW_OBJDUMP) + " -p " + quoted(kWin32Dir + "/TARV_c.dll"),
                          &output),
              0)
        << output;
    return output;
}

TEST(Win32Interface, ExportsOnlyUnderscoreMexFunctionAtOrdinalOne) {
    std::istringstream dump(objdump_p());
    std::string line;
    long base = -1;
    std::vector<std::string> names;
    std::vector<long> ordinals;
    bool in_names = false;
    while (std::getline(dump, line)) {
        long value;
        if (sscanf(line.c_str(), "Ordinal Base %ld", &value) == 1) base = value;
        if (sscanf(line.c_str(), " [%*d] +base[%ld]", &value) == 1) ordinals.push_back(value);
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            in_names = true;
        } else if (in_names) {
            char name[256];
            if (sscanf(line.c_str(), " [%ld] %255s", &value, name) != 2) {
                in_names = false;
            } else {
                names.push_back(name);
                EXPECT_EQ(base + value, 1) << name << " is not at ordinal 1";
            }
        }
    }
    EXPECT_EQ(base, 1);
    EXPECT_EQ(names, std::vector<std::string>{"_mexFunction"});
    EXPECT_EQ(ordinals, std::vector<long>{1});
}

// The host operations the Linux plug-in binds, under their plain names,
// split by library: mx... from libmx, mex... from libmex.
std::map<std::string, std::set<std::string>> linux_host_operations() {
    std::string output;
    EXPECT_EQ(run_command("nm -D --undefined-only " + quoted(kLinuxPlugin), &output), 0) << output;
    std::map<std::string, std::set<std::string>> operations;
    std::istringstream symbols(output);
    std::string kind, name;
    while (symbols >> kind >> name) {
        name = name.substr(0, name.find('@'));
        if (name.size() > 4 && name.compare(name.size() - 4, 4, "_700") == 0)
            name.resize(name.size() - 4);
        if (name.rfind("mex", 0) == 0) operations["libmex.dll"].insert(name);
        else if (name.rfind("mx", 0) == 0) operations["libmx.dll"].insert(name);
    }
    return operations;
}

TEST(Win32Interface, ImportsTheHostOperationsAndOnlyTheRuntimeItNeeds) {
    std::map<std::string, std::set<std::string>> imports;
    std::istringstream dump(objdump_p());
    std::string line, library;
    // After "DLL Name: X" each import is a line "vma hint name".
    while (std::getline(dump, line)) {
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;) tokens.push_back(token);
        if (tokens.size() == 3 && tokens[0] == "DLL" && tokens[1] == "Name:") {
            library = tokens[2];
            imports[library];
        } else if (!library.empty() && tokens.size() == 3 &&
                   tokens[0].find_first_not_of("0123456789abcdef") == std::string::npos &&
                   tokens[1].find_first_not_of("0123456789") == std::string::npos) {
            imports[library].insert(tokens[2]);
        } else if (line.find("There is an export table") != std::string::npos) {
            library.clear();
        }
    }
    std::map<std::string, std::set<std::string>> expected = linux_host_operations();
    ASSERT_FALSE(expected["libmx.dll"].empty());
    ASSERT_FALSE(expected["libmex.dll"].empty());
    expected["CRTDLL.DLL"] = {"exp", "log"};
    // The start-up code in win32/dll_entry.cpp, and nothing else.
    expected["KERNEL32.dll"] = {"DisableThreadLibraryCalls"};
    EXPECT_EQ(imports, expected);
}

// --- results ------------------------------------------------------------------

struct ComparisonImage {
    FilterCase filter;
    int64_t max_ulps;  // from the Linux build's results
};

const ComparisonImage kComparisonSet[] = {
    // Ordinary images, with the contrast of speckle: the builds differ by
    // rounding only, a few ulps.
    {{"speckle", 40, 33, 0.0f, 4.0f, 12, 0.2, 5, 20, 3, 15, 0}, 4},
    {{"lambda_not_single", 19, 23, -2.0f, 3.0f, 8, 0.1, 1, 19, 1, 23, 0}, 4},
    {{"one_row", 1, 29, 0.0f, 3.0f, 6, 0.2, 1, 1, 3, 9, 0}, 4},
    {{"one_column", 31, 1, 0.0f, 3.0f, 6, 0.2, 4, 12, 1, 1, 0}, 4},
    {{"no_iteration", 9, 7, -5.0f, 5.0f, 0, 0.2, 1, 9, 1, 7, 0}, 4},
    // A reference region of low contrast, from the start or after many
    // iterations have smoothed it: var = sum2/n - mean^2 cancels, and the
    // builds round mean^2 differently (the Windows build not at all), so q0
    // differs by about mean^2/var ulps and the results by more than a few.
    {{"low_contrast", 24, 17, 1.0f, 1.5f, 10, 0.25, 3, 8, 2, 6, 0}, 32},
    {{"many_iterations", 16, 16, 0.5f, 2.5f, 60, 0.24, 2, 14, 2, 14, 3}, 32},
};

struct ResultCase {
    ComparisonImage image;
    int precision;
};

void PrintTo(const ResultCase& c, std::ostream* os) {
    *os << c.image.filter.name << " at " << c.precision << " bits";
}

class Win32Result : public ::testing::TestWithParam<ResultCase> {};

// The plug-in's bits are the reference loop's, under the same precision
// control; the Linux build differs from them by rounding only.
TEST_P(Win32Result, IsTheRegisterPrecisionFilterAndCloseToLinux) {
    const ResultCase& param = GetParam();
    const FilterCase& filter = param.image.filter;
    Inputs inputs;
    make_inputs(filter, inputs);
    const Outcome windows = run_windows(inputs, param.precision);
    const Outcome reference = run_windows(inputs, param.precision, true);
    const Outcome linux_outcome = run_linux(inputs);

    EXPECT_EQ(windows.status, "ok");
    EXPECT_EQ(windows.leftover, 0u);
    EXPECT_TRUE(windows.unchanged);
    EXPECT_EQ(windows.heap, 0);
    // With 24 significant bits the bar's fraction i/(n-1) is itself
    // computed in single precision, so only wider settings show Linux's.
    if (param.precision > 24) {
        EXPECT_EQ(windows.calls, linux_outcome.calls);
    }
    EXPECT_EQ(windows.x87, control_word(param.precision)) << "the plug-in changed the control word";
    EXPECT_TRUE(same_bits(reference.values, windows.values, filter.rows));

    ASSERT_EQ(windows.values.size(), linux_outcome.values.size());
    int64_t max_ulps = 0, max_raw_ulps = 0;
    size_t differing = 0;
    for (size_t k = 0; k < windows.values.size(); ++k) {
        max_ulps = std::max(max_ulps, result_ulps_apart(linux_outcome.values[k], windows.values[k]));
        const int64_t raw = ulps_apart(linux_outcome.values[k], windows.values[k]);
        max_raw_ulps = std::max(max_raw_ulps, raw);
        differing += raw != 0;
    }
    std::cout << "x87 precision " << param.precision << ", " << filter.name << ": max "
              << max_ulps << " ulps from Linux (" << max_raw_ulps << " counting the finer ulps"
              << " of results within 1 of 0), " << differing << " of "
              << windows.values.size() << " pixels differ\n";
    EXPECT_LE(max_ulps, param.image.max_ulps);
}

std::vector<ResultCase> result_cases() {
    std::vector<ResultCase> cases;
    for (int precision : {24, 53, 64})
        for (const ComparisonImage& image : kComparisonSet) cases.push_back({image, precision});
    return cases;
}

std::string result_case_name(const ::testing::TestParamInfo<ResultCase>& info) {
    return std::string(info.param.image.filter.name) + "_x87_" + std::to_string(info.param.precision);
}

INSTANTIATE_TEST_SUITE_P(ComparisonSet, Win32Result, ::testing::ValuesIn(result_cases()),
                         result_case_name);

class Win32OnePixelRegion : public ::testing::TestWithParam<int> {};

// A one-pixel reference region: its square is inexact in single precision,
// so var is 0 in single precision but not in register precision. The Linux
// build then gets q0 = 0 and NaN at the flat patch; the Windows build with
// 53 or 64 significant bits keeps every coefficient, and result, finite.
TEST_P(Win32OnePixelRegion, KeepsFiniteResultsWhereLinuxGetsNaN) {
    const FilterCase c{"one_pixel", 12, 10, 0.3f, 2.0f, 3, 0.2, 9, 9, 7, 7, 0, 4, 4};
    Inputs inputs;
    make_inputs(c, inputs);
    const float* source = static_cast<const float*>(mxGetData(inputs.arrays[0]));
    const float w = static_cast<float>(std::exp(static_cast<double>(source[8 + 12 * 6])));
    ASSERT_NE(static_cast<double>(w) * w, static_cast<double>(w * w)) << "pick another image";

    const Outcome linux_outcome = run_linux(inputs);
    ASSERT_EQ(linux_outcome.status, "ok");
    EXPECT_TRUE(std::any_of(linux_outcome.values.begin(), linux_outcome.values.end(),
                            [](float v) { return std::isnan(v); }));

    const Outcome windows = run_windows(inputs, GetParam());
    ASSERT_EQ(windows.status, "ok");
    EXPECT_TRUE(std::all_of(windows.values.begin(), windows.values.end(),
                            [](float v) { return std::isfinite(v); }));
    EXPECT_TRUE(same_bits(run_windows(inputs, GetParam(), true).values, windows.values, c.rows));
}

INSTANTIATE_TEST_SUITE_P(WiderThanSingle, Win32OnePixelRegion, ::testing::Values(53, 64),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "x87_" + std::to_string(info.param);
                         });

// --- arguments and progress ----------------------------------------------------------

// The progress flag and iteration count: the same "waitbar" and "close" calls
// as the Linux build for every flag within the signed 32-bit range.
struct ProgressCase {
    const char* name;
    double iterations;
    double flag;
};

void PrintTo(const ProgressCase& c, std::ostream* os) { *os << c.name; }

class Win32Progress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(Win32Progress, CallsTheHostAsLinuxDoes) {
    const ProgressCase& param = GetParam();
    const FilterCase c{"progress", 6, 5, 0.0f, 2.0f, param.iterations, 0.2, 1, 6, 1, 5, param.flag};
    Inputs inputs;
    make_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(inputs);
    const Outcome windows = run_windows(inputs, 64);
    expect_same_behaviour(linux_outcome, windows);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, Win32Progress,
    ::testing::Values(ProgressCase{"three_iterations", 3, 1}, ProgressCase{"one_iteration", 1, 1},
                      ProgressCase{"no_iteration", 0, 1}, ProgressCase{"negative_iterations", -2, 1},
                      ProgressCase{"fractions_truncated", 2.9, -1.7},
                      ProgressCase{"low_byte_zero", 4, 256}, ProgressCase{"half", 4, 0.5},
                      ProgressCase{"largest_signed", 2, 2147483647.0},
                      ProgressCase{"smallest_signed", 2, -2147483648.0},
                      ProgressCase{"nan", 2, NAN}, ProgressCase{"off", 2, 0}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

// From 2^31 on, the Windows build converts the flag as an unsigned 32-bit
// integer, where the Linux build's conversion saturates to -2^31 (off).
TEST(Win32Progress, FlagsFrom2To31AreConvertedAsUnsigned) {
    const struct {
        double flag;
        bool on;
    } kFlags[] = {{2147483648.0, false},        {2147483649.0, true},   {2147483904.5, false},
                  {4294967295.0, true},         {4294967296.0, false},  {4294967297.0, false},
                  {-2147483649.0, false},       {1e300, false},         {INFINITY, false}};
    for (const auto& entry : kFlags) {
        SCOPED_TRACE(entry.flag);
        const FilterCase c{"flag", 4, 3, 0.0f, 1.0f, 2, 0.2, 1, 4, 1, 3, entry.flag};
        Inputs inputs;
        make_inputs(c, inputs);
        const Outcome windows = run_windows(inputs, 64);
        ASSERT_EQ(windows.status, "ok");
        EXPECT_EQ(windows.calls.size(), entry.on ? 4u : 0u);
        EXPECT_TRUE(run_linux(inputs).calls.empty());
    }
}

// A failing "waitbar" cancels the filter (a failing "close" is ignored), as
// on Linux: same calls, same error, nothing left behind.
class Win32FailingHost : public ::testing::TestWithParam<int> {};

TEST_P(Win32FailingHost, CancelsAsLinuxDoes) {
    const FilterCase c{"failing", 5, 4, 0.0f, 2.0f, 3, 0.2, 1, 5, 1, 4, 1};
    Inputs inputs;
    make_inputs(c, inputs);
    const Outcome linux_outcome = run_linux(inputs, GetParam());
    EXPECT_EQ(linux_outcome.status, GetParam() == 5 ? "ok" : "error TARV_c:cancelled");
    expect_same_behaviour(linux_outcome, run_windows(inputs, 64, false, GetParam()));
}

// Calls 1 to 5 are: open, three advances, close.
INSTANTIATE_TEST_SUITE_P(FailingCall, Win32FailingHost, ::testing::Values(1, 2, 4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "call_" + std::to_string(info.param);
                         });

// Bad arguments: the same error identifiers and messages as the Linux
// build, nothing left behind, inputs untouched.
struct ErrorCase {
    const char* name;
    int slot;  // the argument replaced, or -1 to drop the last one
    mxClassID class_id;
    std::vector<size_t> dims;
    double value;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class Win32Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Win32Errors, MatchLinux) {
    const ErrorCase& param = GetParam();
    const FilterCase c{"errors", 8, 6, 0.0f, 2.0f, 2, 0.2, 2, 5, 2, 4, 1};
    Inputs inputs;
    make_inputs(c, inputs);
    if (param.slot < 0) {
        mxDestroyArray(inputs.arrays.back());
        inputs.arrays.pop_back();
    } else {
        mxArray* replacement = testhost::make_array(param.class_id, param.dims);
        if (param.class_id == mxDOUBLE_CLASS && mxGetNumberOfElements(replacement) != 0)
            *mxGetPr(replacement) = param.value;
        mxDestroyArray(inputs.arrays[static_cast<size_t>(param.slot)]);
        inputs.arrays[static_cast<size_t>(param.slot)] = replacement;
    }
    const Outcome linux_outcome = run_linux(inputs);
    ASSERT_NE(linux_outcome.status, "ok");
    expect_same_behaviour(linux_outcome, run_windows(inputs, 53));
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, Win32Errors,
    ::testing::Values(ErrorCase{"seven_inputs", -1, mxDOUBLE_CLASS, {}, 0},
                      ErrorCase{"double_image", 0, mxDOUBLE_CLASS, {8, 6}, 1},
                      ErrorCase{"int8_image", 0, mxINT8_CLASS, {8, 6}, 0},
                      ErrorCase{"nan_iterations", 1, mxDOUBLE_CLASS, {1, 1}, NAN},
                      ErrorCase{"huge_iterations", 1, mxDOUBLE_CLASS, {1, 1}, 2147483648.0},
                      ErrorCase{"char_lambda", 2, mxCHAR_CLASS, {1, 3}, 0},
                      ErrorCase{"empty_first_row", 3, mxDOUBLE_CLASS, {0, 0}, 0},
                      ErrorCase{"zero_last_row", 4, mxDOUBLE_CLASS, {1, 1}, 0},
                      ErrorCase{"first_column_too_far", 5, mxDOUBLE_CLASS, {1, 1}, 7},
                      ErrorCase{"nan_last_column", 6, mxDOUBLE_CLASS, {1, 1}, NAN},
                      ErrorCase{"cell_flag", 7, mxCELL_CLASS, {1, 1}, 0}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

}  // namespace
