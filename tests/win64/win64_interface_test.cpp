// The binary interface of the 64-bit Windows plug-ins, TARV_c.mexw64 and
// bandscore.mexw64, read with x86_64-w64-mingw32-objdump: what a 64-bit
// Windows host finds in them, and what their code may do on the stack.
// These tests need no wine.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pe_interface.h"

namespace {

const std::string kWin64Dir = WIN64_BUILD_DIR;

struct PluginFiles {
    const char* name;
    const char* linux_plugin;
};

void PrintTo(const PluginFiles& files, std::ostream* os) { *os << files.name; }

const PluginFiles kPlugins[] = {{"TARV_c", TARV_C_PLUGIN}, {"bandscore", BANDSCORE_PLUGIN}};

std::string dll_of(const PluginFiles& files) { return kWin64Dir + "/" + files.name + ".mexw64"; }

std::string command_output(const std::string& command) {
    std::string output;
    EXPECT_EQ(wine::run_command(command, &output), 0) << command << "\n" << output.substr(0, 2000);
    return output;
}

std::string objdump(const std::string& options, const std::string& file) {
    return command_output(wine::quoted(MINGW64_OBJDUMP) + " " + options + " " + wine::quoted(file));
}

class Win64Interface : public ::testing::TestWithParam<PluginFiles> {};

TEST_P(Win64Interface, IsAPe32PlusX8664Dll) {
    const std::string dump = objdump("-p", dll_of(GetParam()));
    EXPECT_NE(dump.find("file format pei-x86-64"), std::string::npos);
    EXPECT_TRUE(std::regex_search(dump, std::regex("Magic\\s+020b\\s+\\(PE32\\+\\)")));
    EXPECT_TRUE(std::regex_search(dump, std::regex("Characteristics[^\\n]*\\n(\\s+[^\\n]+\\n)*\\s+DLL\\n")))
        << "not marked as a DLL";
}

TEST_P(Win64Interface, ExportsOnlyMexFunction) {
    const pe::Exports exports = pe::exports_of(objdump("-p", dll_of(GetParam())));
    EXPECT_EQ(exports.names, std::vector<std::string>{"mexFunction"});
    EXPECT_EQ(exports.address_ordinals.size(), 1u);
}

// What the Linux plug-in takes from its C library but a Windows plug-in
// does not take from msvcrt.dll: the POSIX worker team's functions (the
// Windows team is KERNEL32's), the message formatting (the host formats a
// Windows plug-in's messages) and memset, which GCC makes of zeroing loops
// on Linux and is kept from making on Windows.
const std::set<std::string> kLinuxOnly = {
    "pthread_create",         "pthread_join",          "pthread_mutex_init",
    "pthread_mutex_destroy",  "pthread_mutex_lock",    "pthread_mutex_unlock",
    "pthread_cond_init",      "pthread_cond_destroy",  "pthread_cond_wait",
    "pthread_cond_broadcast", "pthread_sigmask",       "sigfillset",
    "sigdelset",              "sched_getaffinity",     "sysconf",
    "vsnprintf",              "memset"};

TEST_P(Win64Interface, ImportsWhatTheLinuxBuildBindsAndOnlyThat) {
    int status = 0;
    const std::set<std::string> linux_symbols =
        pe::linux_undefined(GetParam().linux_plugin, &status);
    ASSERT_EQ(status, 0) << "nm failed on " << GetParam().linux_plugin;
    // Host operations under the names the Linux build binds, "_700" kept.
    std::map<std::string, std::set<std::string>> expected =
        pe::host_operations(linux_symbols, true);
    ASSERT_FALSE(expected["libmx.dll"].empty());
    // The C library's and libm's functions, from msvcrt.dll.
    std::set<std::string>& runtime = expected["msvcrt.dll"];
    for (const std::string& name : linux_symbols)
        if (name.rfind("mx", 0) != 0 && name.rfind("mex", 0) != 0 && kLinuxOnly.count(name) == 0)
            runtime.insert(name);
    EXPECT_TRUE(runtime.count("exp")) << "the Linux plug-in no longer calls exp?";
    // The worker team, the start-up in win32/dll_entry.cpp, and the look-up
    // of the host's interrupt query in libut.dll (the Linux build's weak
    // reference to it is no needed symbol).
    expected["KERNEL32.dll"] = {"AcquireSRWLockExclusive", "CloseHandle",
                                "CreateThread",            "DisableThreadLibraryCalls",
                                "GetCurrentProcess",       "GetModuleHandleA",
                                "GetProcAddress",          "GetProcessAffinityMask",
                                "InitializeConditionVariable", "InitializeSRWLock",
                                "ReleaseSRWLockExclusive", "SleepConditionVariableSRW",
                                "WaitForSingleObject",     "WakeAllConditionVariable"};
    EXPECT_EQ(pe::imports_of(objdump("-p", dll_of(GetParam()))), expected);
}

// No C++ runtime is linked in either: none of its symbols, nor the
// unwinder's, is in the DLL's symbol table.
TEST_P(Win64Interface, ContainsNoCxxRuntime) {
    std::istringstream symbols(objdump("-t", dll_of(GetParam())));
    std::string line;
    size_t count = 0;
    std::vector<std::string> runtime;
    const std::regex kRuntime("\\s(__cxa_|__gxx_|_ZSt|_ZNSt|_ZN9__gnu_cxx|_Unwind_|__gcc_personality|_Znw|_Znaw|_Zdl|_Zda)");
    while (std::getline(symbols, line)) {
        ++count;
        if (std::regex_search(line, kRuntime)) runtime.push_back(line);
    }
    EXPECT_GT(count, 50u) << "no symbol table to look in";
    EXPECT_TRUE(runtime.empty()) << runtime.front();
}

// --- the stack and the vector paths ------------------------------------------------

// Whether a line of `objdump -d` is an aligned vector move (which faults on
// a misaligned address) with a memory operand on the stack.
bool aligned_stack_move(const std::string& line) {
    static const std::regex kAligned(
        "\\s(v?movap[sd]|v?movdqa(32|64)?|v?movnt(ps|pd|dq|dqa)|vmovdqa(32|64))\\s[^\\n]*\\((%rsp|%rbp)");
    return std::regex_search(line, kAligned);
}

struct MoveLine {
    const char* line;
    bool aligned_on_stack;
};

TEST(Win64StackMoves, AreToldApart) {
    const MoveLine kLines[] = {
        {"  4010a0:\tvmovaps %ymm0,0x20(%rsp)", true},
        {"  4010a0:\tvmovaps 0x40(%rbp),%zmm1", true},
        {"  4010a0:\tvmovdqa64 %zmm3,-0x40(%rbp)", true},
        {"  4010a0:\tmovaps %xmm6,0x10(%rsp)", true},
        {"  4010a0:\tvmovntps %ymm0,(%rsp)", true},
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
// every aligned vector move as an unaligned one. The plug-ins carry their
// AVX2 and AVX-512 paths, and no fused multiply-add on any path.
TEST_P(Win64Interface, VectorPathsMoveNothingAlignedOnTheStack) {
    static const std::regex kFused("\\tv?fn?m(add|sub)");
    std::istringstream code(objdump("-d --no-show-raw-insn", dll_of(GetParam())));
    std::string line;
    size_t instructions = 0, ymm = 0, zmm = 0, fused = 0;
    std::vector<std::string> aligned;
    while (std::getline(code, line)) {
        if (line.find(":\t") == std::string::npos) continue;
        ++instructions;
        ymm += line.find("%ymm") != std::string::npos;
        zmm += line.find("%zmm") != std::string::npos;
        fused += std::regex_search(line, kFused);
        if (aligned_stack_move(line)) aligned.push_back(line);
    }
    EXPECT_GT(instructions, 1000u);
    EXPECT_GT(ymm, 0u) << "no AVX2 path";
    EXPECT_GT(zmm, 0u) << "no AVX-512 path";
    EXPECT_EQ(fused, 0u);
    EXPECT_TRUE(aligned.empty()) << aligned.size() << " aligned stack moves, the first: "
                                 << aligned.front();
}

INSTANTIATE_TEST_SUITE_P(Plugins, Win64Interface, ::testing::ValuesIn(kPlugins),
                         [](const ::testing::TestParamInfo<PluginFiles>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
