// The binary interface of a Windows build's plug-ins, and of the 64-bit
// build's Python package library, read with the MinGW objdump of its width:
// what a Windows host (or Python) finds in them, and what their code may do
// on the stack. These tests need no wine.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "case_support.h"
#include "pe_interface.h"
#include "windows_builds.h"
#ifdef PYTHON_LIBRARY
#include "c_interface.h"
#endif

namespace {

const std::string kBuildDir = WINDOWS_BUILD_DIR;

// A DLL of the build and the Linux binary of the same code, whose bindings
// its imports must match.
struct PluginFiles {
    const char* name;
    std::string file;  // in the build directory
    const char* linux_binary;
    std::vector<std::string> exports;  // in the export table's order, by name
    std::set<std::string> kernel32_functions;
    bool host;  // a plug-in, which binds host operations
};

void PrintTo(const PluginFiles& files, std::ostream* os) { *os << files.name; }

std::vector<PluginFiles> plugin_files() {
    std::vector<PluginFiles> files;
    for (Plugin plugin : kBuild.plugins) {
        const char* name = plugin == Plugin::kFilter ? "TARV_c" : "bandscore";
        files.push_back({name, std::string(name) + kBuild.suffix,
                         plugin == Plugin::kFilter ? TARV_C_PLUGIN : BANDSCORE_PLUGIN,
                         {kBuild.export_name}, kBuild.kernel32_functions, true});
    }
#ifdef PYTHON_LIBRARY
    // The Python package's library: the C interface, and the team's and the
    // start-up's KERNEL32 functions, without the plug-ins' look-up of the
    // host's interrupt query.
    const std::set<std::string> names = c_interface_names();
    std::set<std::string> kernel32 = kBuild.kernel32_functions;
    kernel32.erase("GetModuleHandleA");
    kernel32.erase("GetProcAddress");
    files.push_back({"tarvbandscore", "tarvbandscore.dll", PYTHON_LIBRARY,
                     std::vector<std::string>(names.begin(), names.end()), kernel32, false});
#endif
    return files;
}

std::string dll_of(const PluginFiles& files) { return kBuildDir + "/" + files.file; }

std::string objdump(const std::string& options, const std::string& file) {
    return run(wine::quoted(MINGW_OBJDUMP) + " " + options + " " + wine::quoted(file));
}

class WindowsInterface : public ::testing::TestWithParam<PluginFiles> {};

TEST_P(WindowsInterface, IsADllOfItsWidth) {
    const std::string dump = objdump("-p", dll_of(GetParam()));
    EXPECT_NE(dump.find(std::string("file format ") + kBuild.file_format), std::string::npos);
    EXPECT_TRUE(std::regex_search(dump, std::regex(std::string("Magic\\s+") + kBuild.magic)));
    EXPECT_TRUE(std::regex_search(dump, std::regex("Characteristics[^\\n]*\\n(\\s+[^\\n]+\\n)*\\s+DLL\\n")))
        << "not marked as a DLL";
}

// A plug-in exports its entry point at ordinal 1, the library its C
// interface at ordinals 1, 2, ... in the order of their names.
TEST_P(WindowsInterface, ExportsOnlyItsEntryPointsFromOrdinalOne) {
    const pe::Exports exports = pe::exports_of(objdump("-p", dll_of(GetParam())));
    std::vector<long> ordinals(GetParam().exports.size());
    for (size_t k = 0; k < ordinals.size(); ++k) ordinals[k] = static_cast<long>(k) + 1;
    EXPECT_EQ(exports.base, 1);
    EXPECT_EQ(exports.names, GetParam().exports);
    EXPECT_EQ(exports.name_ordinals, ordinals);
    EXPECT_EQ(exports.address_ordinals, ordinals);
}

TEST_P(WindowsInterface, ImportsWhatTheLinuxBuildBindsAndOnlyThat) {
    int status = 0;
    const std::set<std::string> linux_symbols =
        pe::linux_undefined(GetParam().linux_binary, &status);
    ASSERT_EQ(status, 0) << "nm failed on " << GetParam().linux_binary;
    // The host operations the Linux plug-in binds, under the names of this
    // width; the library binds none.
    std::map<std::string, std::set<std::string>> expected =
        pe::host_operations(linux_symbols, kBuild.binds_700_names);
    ASSERT_EQ(expected["libmx.dll"].empty(), !GetParam().host);
    if (!GetParam().host) expected.clear();
    std::set<std::string> c_library;
    for (const std::string& name : linux_symbols)
        if (name.rfind("mx", 0) != 0 && name.rfind("mex", 0) != 0) c_library.insert(name);
    EXPECT_TRUE(c_library.count("exp")) << "the Linux plug-in no longer calls exp?";
    expected[kBuild.runtime_dll] = kBuild.runtime_functions(c_library);
    expected["KERNEL32.dll"] = GetParam().kernel32_functions;
    EXPECT_EQ(pe::imports_of(objdump("-p", dll_of(GetParam()))), expected);
}

// No C++ runtime is linked in either: none of its symbols, nor the
// unwinder's, is in the DLL's symbol table.
TEST_P(WindowsInterface, ContainsNoCxxRuntime) {
    const std::vector<std::string> symbols = lines(objdump("-t", dll_of(GetParam())));
    std::vector<std::string> runtime;
    const std::regex kRuntime("\\s(__cxa_|__gxx_|_ZSt|_ZNSt|_ZN9__gnu_cxx|_Unwind_|__gcc_personality|_Znw|_Znaw|_Zdl|_Zda)");
    for (const std::string& line : symbols)
        if (std::regex_search(line, kRuntime)) runtime.push_back(line);
    EXPECT_GT(symbols.size(), 50u) << "no symbol table to look in";
    EXPECT_TRUE(runtime.empty()) << runtime.front();
}

// --- the stack and the vector paths ------------------------------------------------

// Whether a line of `objdump -d` is an aligned vector move (which faults on
// a misaligned address) with a memory operand on the stack.
bool aligned_stack_move(const std::string& line) {
    static const std::regex kAligned(
        "\\s(v?movap[sd]|v?movdqa(32|64)?|v?movnt(ps|pd|dq|dqa)|vmovdqa(32|64))\\s[^\\n]*\\((%[re]sp|%[re]bp)");
    return std::regex_search(line, kAligned);
}

struct MoveLine {
    const char* line;
    bool aligned_on_stack;
};

TEST(StackMoves, AreToldApart) {
    const MoveLine kLines[] = {
        {"  4010a0:\tvmovaps %ymm0,0x20(%rsp)", true},
        {"  4010a0:\tvmovaps 0x40(%rbp),%zmm1", true},
        {"  4010a0:\tvmovdqa64 %zmm3,-0x40(%rbp)", true},
        {"  4010a0:\tmovaps %xmm6,0x10(%rsp)", true},
        {"  4010a0:\tvmovntps %ymm0,(%rsp)", true},
        {"  4010a0:\tmovaps %xmm0,0x10(%esp)", true},
        {"  4010a0:\tvmovups %ymm0,0x20(%rsp)", false},
        {"  4010a0:\tvmovdqu64 %zmm3,-0x40(%rbp)", false},
        {"  4010a0:\tvmovaps (%rax),%ymm0", false},
        {"  4010a0:\tvmovaps %zmm2,%zmm0{%k1}{z}", false},
        {"  4010a0:\tmov    %rax,0x20(%rsp)", false},
    };
    for (const MoveLine& entry : kLines)
        EXPECT_EQ(aligned_stack_move(entry.line), entry.aligned_on_stack) << entry.line;
}

// MinGW-w64 GCC aligns the stack to 16 bytes only, so an aligned move of a
// 32- or 64-byte value it spilled there would fault: the assembler writes
// every aligned vector move as an unaligned one. The 64-bit plug-ins carry
// their AVX2 and AVX-512 paths, the 32-bit filter its plain loops only; no
// path has a fused multiply-add.
TEST_P(WindowsInterface, VectorPathsMoveNothingAlignedOnTheStack) {
    static const std::regex kFused("\\tv?fn?m(add|sub)");
    size_t instructions = 0, ymm = 0, zmm = 0, fused = 0;
    std::vector<std::string> aligned;
    for (const std::string& line : lines(objdump("-d --no-show-raw-insn", dll_of(GetParam())))) {
        if (line.find(":\t") == std::string::npos) continue;
        ++instructions;
        ymm += line.find("%ymm") != std::string::npos;
        zmm += line.find("%zmm") != std::string::npos;
        fused += std::regex_search(line, kFused);
        if (aligned_stack_move(line)) aligned.push_back(line);
    }
    EXPECT_GT(instructions, 1000u);
    EXPECT_EQ(ymm > 0, kBuild.fast_paths) << ymm << " instructions on AVX2 registers";
    EXPECT_EQ(zmm > 0, kBuild.fast_paths) << zmm << " instructions on AVX-512 registers";
    EXPECT_EQ(fused, 0u);
    EXPECT_TRUE(aligned.empty()) << aligned.size() << " aligned stack moves, the first: "
                                 << aligned.front();
}

INSTANTIATE_TEST_SUITE_P(Plugins, WindowsInterface, ::testing::ValuesIn(plugin_files()), param_name);

}  // namespace
