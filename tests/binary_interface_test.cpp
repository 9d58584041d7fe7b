// The built Linux plug-ins' binary interface, read with readelf and each
// architecture's objdump: what they export, which libraries they need,
// which host names they bind, which glibc versions they need, and that no
// instruction fuses a multiply and an add. The x86-64 plug-ins, and the
// aarch64 ones where this build makes them (ARM64_TARV_C_PLUGIN); the same
// of the Python package's library (PYTHON_LIBRARY, ARM64_PYTHON_LIBRARY).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "c_interface.h"
#include "tool_output.h"

namespace {

struct DynamicSymbol {
    std::string name;  // with its version, as readelf prints it
    bool defined;
    bool weak;
};

std::vector<DynamicSymbol> dynamic_symbols(const std::string& path) {
    std::vector<DynamicSymbol> symbols;
    for (const std::string& line : lines(run("readelf --dyn-syms -W '" + path + "'"))) {
        const std::vector<std::string> f = fields(line);
        // Num: Value Size Type Bind Vis Ndx Name
        if (f.size() < 8 || f[0].back() != ':' || f[0] == "Num:") continue;
        // Local entries (the aarch64 linker lists some section symbols)
        // are neither exported nor bound.
        if (f[7].empty() || f[4] == "LOCAL") continue;
        symbols.push_back({f[7], f[6] != "UND", f[4] == "WEAK"});
    }
    return symbols;
}

std::string unversioned(const std::string& name) { return name.substr(0, name.find('@')); }

// What the plug-ins of one processor family are read with, and what their
// code must and must not hold.
struct Architecture {
    const char* name;
    const char* objdump;
    const char* fused;  // an instruction that fuses a multiply and an add
    // Registers of the vector widths the fast paths use: each must appear.
    std::vector<std::pair<const char*, const char*>> vector_registers;  // what, pattern
};

const Architecture kX86_64{"x86_64", "objdump", "\\tv?fn?m(add|sub)",
                           {{"AVX2 path", "%ymm"}, {"AVX-512 path", "%zmm"}}};
#ifdef ARM64_TARV_C_PLUGIN
const Architecture kAarch64{"aarch64", AARCH64_OBJDUMP, "\\t(fn?m(add|sub)|fml[as])\\t",
                            {{"NEON single-precision lanes", "\\bv[0-9]+\\.4s\\b"},
                             {"NEON double-precision lanes", "\\bv[0-9]+\\.2d\\b"}}};
#endif

struct PluginInterface {
    const char* name;
    const char* path;
    std::set<std::string> host_operations;
    const Architecture* architecture;
};

class BinaryInterfaceTest : public ::testing::TestWithParam<PluginInterface> {};

// MATLAB's libut answers whether the user has interrupted the call.
const std::string kInterruptQuery = "utIsInterruptPending";

// The entries of one kind of a binary's dynamic section, "(NEEDED)" or
// "(SONAME)", in their order.
std::vector<std::string> dynamic_entries(const std::string& path, const std::string& kind) {
    std::vector<std::string> entries;
    for (const std::string& line : lines(run("readelf -d -W '" + path + "'")))
        if (line.find(kind) != std::string::npos)
            entries.push_back(line.substr(line.find('[') + 1, line.find(']') - line.find('[') - 1));
    return entries;
}

TEST_P(BinaryInterfaceTest, NeedsExactlyTheHostAndSystemLibrariesInOrder) {
    EXPECT_EQ(dynamic_entries(GetParam().path, "(NEEDED)"),
              (std::vector<std::string>{"libmx.so", "libmex.so", "libm.so.6", "libpthread.so.0",
                                        "libc.so.6"}));
}

TEST_P(BinaryInterfaceTest, CarriesNoBuildPaths) {
    const std::string dynamic = run(std::string("readelf -d -W '") + GetParam().path + "'");
    EXPECT_EQ(dynamic.find("RPATH"), std::string::npos) << dynamic;
    EXPECT_EQ(dynamic.find("RUNPATH"), std::string::npos) << dynamic;
}

TEST_P(BinaryInterfaceTest, ExportsOnlyMexFunctionUnderVersionMEX) {
    std::vector<std::string> exported;
    for (const DynamicSymbol& symbol : dynamic_symbols(GetParam().path))
        if (symbol.defined) exported.push_back(symbol.name);
    // The version node itself appears as an absolute symbol named MEX.
    EXPECT_EQ(exported, (std::vector<std::string>{"MEX", "mexFunction@@MEX"}));
}

TEST_P(BinaryInterfaceTest, BindsExactlyItsHostOperationsAndNoCxxRuntime) {
    std::set<std::string> host_bound;
    for (const DynamicSymbol& symbol : dynamic_symbols(GetParam().path)) {
        if (symbol.defined) continue;
        const std::string name = unversioned(symbol.name);
        if (name.rfind("mx", 0) == 0 || name.rfind("mex", 0) == 0) {
            host_bound.insert(name);
            continue;
        }
        // Everything else comes from the C library, libm, or is one of the
        // weak references every shared object's start-up code makes, or
        // the host's interrupt query (below).
        const bool from_glibc = symbol.name.find("@GLIBC_") != std::string::npos;
        const bool startup = name == "__gmon_start__" || name == "_ITM_registerTMCloneTable" ||
                             name == "_ITM_deregisterTMCloneTable";
        EXPECT_TRUE(from_glibc || startup || name == kInterruptQuery)
            << "unexpected binding: " << symbol.name;
        EXPECT_EQ(name.rfind("_Z", 0), std::string::npos) << "C++ runtime symbol: " << symbol.name;
    }
    EXPECT_EQ(host_bound, GetParam().host_operations);
}

// The plug-in finds the host's interrupt query without naming a library:
// an unversioned weak reference, which the loader leaves null in a host
// without it. (The needed libraries stay the five above.)
TEST_P(BinaryInterfaceTest, AsksForTheHostsInterruptByAWeakReference) {
    size_t found = 0;
    for (const DynamicSymbol& symbol : dynamic_symbols(GetParam().path)) {
        if (unversioned(symbol.name) != kInterruptQuery) continue;
        ++found;
        EXPECT_FALSE(symbol.defined);
        EXPECT_TRUE(symbol.weak) << "a strong reference fails to load in a host without libut";
        EXPECT_EQ(symbol.name, kInterruptQuery) << "bound to a version of a library";
    }
    EXPECT_EQ(found, 1u);
}

// The operations each plug-in checks its arguments and reports with: the
// size-dependent ones under their 32-bit "_700" names (the dimensions name
// an argument's size in messages).
const std::set<std::string> kArgumentChecks = {
    "mxGetClassID",        "mxIsComplex",
    "mxIsSparse",          "mxGetNumberOfElements",
    "mxGetDimensions_700", "mxGetNumberOfDimensions_700",
    "mexErrMsgIdAndTxt"};

std::set<std::string> with_checks(std::set<std::string> operations) {
    operations.insert(kArgumentChecks.begin(), kArgumentChecks.end());
    return operations;
}

const std::set<std::string> kFilterOperations = with_checks(
    {"mxCreateNumericMatrix_700", "mxCreateDoubleMatrix_700", "mxGetPr", "mxGetScalar", "mxGetM", "mxGetN",
     "mxCreateNumericArray_700", "mxCreateString", "mexCallMATLABWithTrap", "mxDestroyArray",
     "mxMalloc", "mxFree",
     "mexWarnMsgIdAndTxt", "mexMakeArrayPersistent", "mexAtExit"});
const std::set<std::string> kScorerOperations = with_checks(
    {"mxDuplicateArray", "mxGetPr", "mxCreateNumericArray_700", "mxDestroyArray"});

std::vector<PluginInterface> plugins() {
    return {
        {"TARV_c", TARV_C_PLUGIN, kFilterOperations, &kX86_64},
        {"bandscore", BANDSCORE_PLUGIN, kScorerOperations, &kX86_64},
#ifdef ARM64_TARV_C_PLUGIN
        {"TARV_c", ARM64_TARV_C_PLUGIN, kFilterOperations, &kAarch64},
        {"bandscore", ARM64_BANDSCORE_PLUGIN, kScorerOperations, &kAarch64},
#endif
    };
}

INSTANTIATE_TEST_SUITE_P(Plugins, BinaryInterfaceTest, ::testing::ValuesIn(plugins()),
                         [](const auto& info) {
                             return std::string(info.param.name) + "_" +
                                    info.param.architecture->name;
                         });

TEST(BinaryInterfaceTest, FilterTakesItsMathFromLibmAndItsMemoryFromTheHost) {
    for (const PluginInterface& plugin : plugins()) {
        if (std::string(plugin.name) != "TARV_c") continue;
        std::set<std::string> bound;
        for (const DynamicSymbol& symbol : dynamic_symbols(plugin.path)) {
            const std::string name = unversioned(symbol.name);
            if (!symbol.defined && (name == "exp" || name == "logf" || name == "malloc" ||
                                    name == "free" || name == "mxMalloc" || name == "mxFree"))
                bound.insert(name);
        }
        EXPECT_EQ(bound, (std::set<std::string>{"exp", "logf", "mxMalloc", "mxFree"}))
            << plugin.architecture->name;
    }
}

// The arithmetic is defined without fused multiply-adds: no instruction
// set a binary dispatches to may contract a product into a sum. objdump
// lists every instruction of every path, whatever this processor runs.
void expect_no_fused_multiply_add(const std::string& path, const Architecture& architecture) {
    const std::regex fused(architecture.fused);
    std::vector<std::regex> registers;
    for (const auto& [what, pattern] : architecture.vector_registers) registers.emplace_back(pattern);
    std::vector<size_t> register_uses(registers.size());
    size_t instructions = 0, fused_count = 0;
    std::string first_fused;
    for (const std::string& line :
         lines(run(std::string(architecture.objdump) + " -d --no-show-raw-insn '" + path + "'"))) {
        if (line.find(":\t") == std::string::npos) continue;
        ++instructions;
        if (std::regex_search(line, fused) && fused_count++ == 0) first_fused = line;
        for (size_t k = 0; k < registers.size(); ++k)
            register_uses[k] += std::regex_search(line, registers[k]);
    }
    EXPECT_GT(instructions, 1000u);
    EXPECT_EQ(fused_count, 0u) << "the first: " << first_fused;
    for (size_t k = 0; k < registers.size(); ++k)
        EXPECT_GT(register_uses[k], 0u) << "no " << architecture.vector_registers[k].first;
}

TEST_P(BinaryInterfaceTest, ContainsNoFusedMultiplyAdd) {
    expect_no_fused_multiply_add(GetParam().path, *GetParam().architecture);
}

// The glibc versions a binary needs, as objdump -T lists them: "(GLIBC_2.3.4)".
std::set<std::string> glibc_versions(const std::string& path, const Architecture& architecture) {
    std::set<std::string> versions;
    for (const std::string& line : lines(run(std::string(architecture.objdump) + " -T '" + path + "'"))) {
        const size_t start = line.find("(GLIBC_");
        if (start != std::string::npos)
            versions.insert(line.substr(start + 7, line.find(')', start) - start - 7));
    }
    return versions;
}

// 2.3.4 as {2, 3, 4}.
std::vector<int> version_numbers(const std::string& text) {
    std::vector<int> numbers;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, '.');) numbers.push_back(std::stoi(part));
    return numbers;
}

// Hosts still run on glibc 2.17 (RHEL/CentOS 7): no symbol may need a newer
// version, or the loader refuses the plug-in.
void expect_no_glibc_version_after_2_17(const std::string& path, const Architecture& architecture) {
    const std::set<std::string> versions = glibc_versions(path, architecture);
    EXPECT_FALSE(versions.empty()) << "no glibc symbol found: is objdump -T reading the file?";
    for (const std::string& version : versions)
        EXPECT_LE(version_numbers(version), (std::vector<int>{2, 17})) << "GLIBC_" << version;
}

TEST_P(BinaryInterfaceTest, NeedsNoGlibcVersionAfter2_17) {
    expect_no_glibc_version_after_2_17(GetParam().path, *GetParam().architecture);
}

// --- the Python package's library --------------------------------------------
#ifdef PYTHON_LIBRARY

struct LibraryInterface {
    const char* path;
    const Architecture* architecture;
};

class LibraryInterfaceTest : public ::testing::TestWithParam<LibraryInterface> {};

// Loaded by ctypes from its wheel by its path: no host libraries, its own
// soname, no search path of this build.
TEST_P(LibraryInterfaceTest, NeedsExactlyTheSystemLibrariesInOrder) {
    const std::string path = GetParam().path;
    EXPECT_EQ(dynamic_entries(path, "(NEEDED)"),
              (std::vector<std::string>{"libm.so.6", "libpthread.so.0", "libc.so.6"}));
    EXPECT_EQ(dynamic_entries(path, "(SONAME)"), std::vector<std::string>{"libtarvbandscore.so"});
    EXPECT_TRUE(dynamic_entries(path, "PATH)").empty()) << "an RPATH or RUNPATH";
}

TEST_P(LibraryInterfaceTest, ExportsExactlyTheCInterfaceUnderItsVersion) {
    std::set<std::string> exported;
    for (const DynamicSymbol& symbol : dynamic_symbols(GetParam().path))
        if (symbol.defined) exported.insert(symbol.name);
    std::set<std::string> expected{"TARVBANDSCORE_1"};
    for (const std::string& name : c_interface_names()) expected.insert(name + "@@TARVBANDSCORE_1");
    EXPECT_GT(expected.size(), 5u) << "no declarations read from " << PYTHON_LIBRARY_HEADER;
    EXPECT_EQ(exported, expected);
}

// Only the C library: no C++ runtime, no host name.
TEST_P(LibraryInterfaceTest, BindsTheCLibraryOnly) {
    for (const DynamicSymbol& symbol : dynamic_symbols(GetParam().path)) {
        if (symbol.defined) continue;
        const std::string name = unversioned(symbol.name);
        const bool startup = name == "__gmon_start__" || name == "_ITM_registerTMCloneTable" ||
                             name == "_ITM_deregisterTMCloneTable";
        EXPECT_TRUE(symbol.name.find("@GLIBC_") != std::string::npos || startup)
            << "unexpected binding: " << symbol.name;
        EXPECT_EQ(name.rfind("_Z", 0), std::string::npos) << "C++ runtime symbol: " << symbol.name;
    }
}

TEST_P(LibraryInterfaceTest, NeedsNoGlibcVersionAfter2_17) {
    expect_no_glibc_version_after_2_17(GetParam().path, *GetParam().architecture);
}

TEST_P(LibraryInterfaceTest, ContainsNoFusedMultiplyAdd) {
    expect_no_fused_multiply_add(GetParam().path, *GetParam().architecture);
}

std::vector<LibraryInterface> libraries() {
    return {
        {PYTHON_LIBRARY, &kX86_64},
#ifdef ARM64_PYTHON_LIBRARY
        {ARM64_PYTHON_LIBRARY, &kAarch64},
#endif
    };
}

INSTANTIATE_TEST_SUITE_P(Libraries, LibraryInterfaceTest, ::testing::ValuesIn(libraries()),
                         [](const auto& info) { return std::string(info.param.architecture->name); });
#endif

// The plug-ins bind exp and logf at their oldest versions (GLIBC_2.2.5);
// their results are those of the current versions, bit for bit, on a sweep
// of inputs that reaches overflow, underflow and the special values, with
// NaN in the same places (the old logf of a negative number is +NaN, the
// new one -NaN).
TEST(BinaryInterfaceTest, OldestExpAndLogfGiveTheCurrentBits) {
    void* libm = dlopen("libm.so.6", RTLD_NOW);
    ASSERT_NE(libm, nullptr) << dlerror();
    using Exp = double (*)(double);
    using Logf = float (*)(float);
    const auto old_exp = reinterpret_cast<Exp>(dlvsym(libm, "exp", "GLIBC_2.2.5"));
    const auto new_exp = reinterpret_cast<Exp>(dlsym(libm, "exp"));
    const auto old_logf = reinterpret_cast<Logf>(dlvsym(libm, "logf", "GLIBC_2.2.5"));
    const auto new_logf = reinterpret_cast<Logf>(dlsym(libm, "logf"));
    ASSERT_TRUE(old_exp && new_exp && old_logf && new_logf);
    std::vector<float> inputs = {0.0f, -0.0f, INFINITY, -INFINITY, NAN, -NAN, 1e-45f, -1e-45f,
                                 88.7f, 88.8f, 709.0f, 710.0f, -745.0f, -746.0f, 3.4e38f,
                                 -3.4e38f};
    std::mt19937 generator(7);
    std::uniform_int_distribution<uint32_t> bits;
    for (int k = 0; k < 2000000; ++k) inputs.push_back(std::bit_cast<float>(bits(generator)));
    for (int k = -1200; k <= 1200; ++k) inputs.push_back(static_cast<float>(k) * 0.625f);
    auto same = [](auto a, auto b) { return std::isnan(a) ? std::isnan(b) : memcmp(&a, &b, sizeof a) == 0; };
    size_t differ = 0;
    for (float x : inputs) {
        const double d = static_cast<double>(x);
        differ += !same(old_exp(d), new_exp(d));
        differ += !same(old_logf(x), new_logf(x));
    }
    EXPECT_EQ(differ, 0u) << "of " << inputs.size() << " inputs";
    dlclose(libm);
}

}  // namespace
