// The macOS plug-ins (dist/maca64, dist/maci64) and the Python package's
// library of each build, read with LLVM's object tools. Nothing here can
// load a Mach-O file, so these tests check what a Mac's dyld and MATLAB (or
// Python) will find in each: a bundle (the library: a dylib) for its
// processor and macOS release, the two entry points (the library: its C
// interface) and nothing else exported, the C library bound to libSystem
// alone, the host's names left for the host process (the library has
// none), an ad hoc signature that matches the code on arm64, no fused
// multiply-add on any path and no C++ runtime.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "c_interface.h"
#include "case_support.h"
#include "tool_output.h"

namespace {

struct MacPlugin {
    const char* name;
    std::string file;
    bool arm64;
    std::set<std::string> host_names;  // what dyld must find in the host process
    const char* file_type;             // BUNDLE for a plug-in, DYLIB for the library
    std::set<std::string> exports;
    std::vector<std::string> libraries;  // its own name, then the libraries it loads
};

void PrintTo(const MacPlugin& plugin, std::ostream* os) { *os << plugin.name; }

// The host operations each plug-in binds, the size-dependent ones under
// the 64-bit-size "_730" names of a macOS host.
const std::set<std::string> kFilterHost = {
    "_mxCreateNumericMatrix_730", "_mxCreateDoubleMatrix_730", "_mxGetNumberOfDimensions_730",
    "_mxGetPr", "_mxGetScalar", "_mxGetM", "_mxGetN", "_mxCreateNumericArray_730", "_mxCreateString",
    "_mxDestroyArray",
    "_mxMalloc", "_mxFree", "_mxGetClassID", "_mxIsComplex", "_mxIsSparse",
    "_mxGetNumberOfElements", "_mexCallMATLABWithTrap", "_mexErrMsgIdAndTxt",
    "_mexWarnMsgIdAndTxt", "_mexMakeArrayPersistent", "_mexAtExit", "_mxGetDimensions_730",
    "_utIsInterruptPending (weak)"};
const std::set<std::string> kScorerHost = {
    "_mxCreateNumericArray_730", "_mxGetDimensions_730", "_mxDuplicateArray", "_mxGetPr",
    "_mxGetClassID", "_mxIsComplex", "_mxIsSparse", "_mxGetNumberOfElements",
    "_mexErrMsgIdAndTxt", "_mxGetNumberOfDimensions_730", "_mxDestroyArray",
    "_utIsInterruptPending (weak)"};

const std::set<std::string> kEntryPoints = {"_mexFunction", "_mexfilerequiredapiversion"};
const std::vector<std::string> kLibSystem = {"LC_LOAD_DYLIB /usr/lib/libSystem.B.dylib (offset 24)"};

// The Python package's library: the C interface, its own install name, and
// nothing to be found in a host.
std::set<std::string> library_exports() {
    std::set<std::string> names;
    for (const std::string& name : c_interface_names()) names.insert("_" + name);
    return names;
}
const std::vector<std::string> kLibraryLoads = {
    "LC_ID_DYLIB @rpath/libtarvbandscore.dylib (offset 24)", kLibSystem[0]};

const MacPlugin kPlugins[] = {
    {"TARV_c_maca64", MACA64_DIR "/TARV_c.mexmaca64", true, kFilterHost, "BUNDLE", kEntryPoints,
     kLibSystem},
    {"bandscore_maca64", MACA64_DIR "/bandscore.mexmaca64", true, kScorerHost, "BUNDLE",
     kEntryPoints, kLibSystem},
    {"library_maca64", MACA64_DIR "/libtarvbandscore.dylib", true, {}, "DYLIB", library_exports(),
     kLibraryLoads},
    {"TARV_c_maci64", MACI64_DIR "/TARV_c.mexmaci64", false, kFilterHost, "BUNDLE", kEntryPoints,
     kLibSystem},
    {"bandscore_maci64", MACI64_DIR "/bandscore.mexmaci64", false, kScorerHost, "BUNDLE",
     kEntryPoints, kLibSystem},
    {"library_maci64", MACI64_DIR "/libtarvbandscore.dylib", false, {}, "DYLIB",
     library_exports(), kLibraryLoads},
};

std::string objdump(const std::string& options, const MacPlugin& plugin) {
    return run(std::string(LLVM_OBJDUMP) + " " + options + " '" + plugin.file + "'");
}

// The load commands as `--private-headers` prints them: each command's
// "key value" lines, the command's name under "cmd".
struct LoadCommand {
    std::string cmd;
    std::vector<std::pair<std::string, std::string>> entries;
    std::string value(const std::string& key) const {
        for (const auto& [k, v] : entries)
            if (k == key) return v;
        return "";
    }
};

std::vector<LoadCommand> load_commands(const std::string& dump) {
    std::vector<LoadCommand> commands;
    for (const std::string& line : lines(dump)) {
        std::vector<std::string> f = fields(line);
        if (f.size() < 2) continue;
        if (f[0] == "cmd") {
            commands.push_back({f[1], {}});
        } else if (!commands.empty()) {
            std::string value = line.substr(line.find(f[0]) + f[0].size());
            value.erase(0, value.find_first_not_of(' '));
            commands.back().entries.push_back({f[0], value});
        }
    }
    return commands;
}

class MachOInterface : public ::testing::TestWithParam<MacPlugin> {};

TEST_P(MachOInterface, IsOfItsFileTypeProcessorAndMacOSRelease) {
    const MacPlugin& plugin = GetParam();
    const std::string dump = objdump("--macho --private-headers", plugin);
    const std::regex kHeader(std::string("MH_MAGIC_64\\s+") + (plugin.arm64 ? "ARM64" : "X86_64") +
                             "\\s+\\S+\\s+\\S+\\s+" + plugin.file_type + "\\s");
    EXPECT_TRUE(std::regex_search(dump, kHeader)) << dump.substr(0, 400);
    size_t builds = 0, signatures = 0;
    for (const LoadCommand& command : load_commands(dump)) {
        EXPECT_NE(command.cmd, "LC_VERSION_MIN_MACOSX");
        if (command.cmd == "LC_CODE_SIGNATURE") ++signatures;
        if (command.cmd != "LC_BUILD_VERSION") continue;
        ++builds;
        EXPECT_EQ(command.value("platform"), "macos");
        // Apple silicon from macOS 12 (MATLAB R2024b's minimum), Intel from 11.
        EXPECT_EQ(command.value("minos"), plugin.arm64 ? "12.0" : "11.0");
    }
    EXPECT_EQ(builds, 1u);
    // macOS runs no unsigned arm64 code.
    if (plugin.arm64) {
        EXPECT_EQ(signatures, 1u);
    }
}

TEST_P(MachOInterface, ExportsExactlyItsEntryPoints) {
    std::set<std::string> exported;
    for (const std::string& line : lines(objdump("--macho --exports-trie", GetParam()))) {
        const std::vector<std::string> f = fields(line);
        if (f.size() >= 2 && f[0].rfind("0x", 0) == 0) exported.insert(f[1]);
    }
    EXPECT_GT(GetParam().exports.size(), 1u);
    EXPECT_EQ(exported, GetParam().exports);
}

TEST_P(MachOInterface, LoadsLibSystemAndNoOtherLibrary) {
    std::vector<std::string> libraries;
    for (const LoadCommand& command : load_commands(objdump("--macho --private-headers", GetParam()))) {
        if (command.cmd.find("DYLIB") != std::string::npos || command.cmd == "LC_RPATH" ||
            command.cmd == "LC_LOAD_DYLINKER")
            libraries.push_back(command.cmd + " " + command.value("name"));
    }
    EXPECT_EQ(libraries, GetParam().libraries);
}

// The names our libSystem stub lists, read from the stub itself.
std::set<std::string> libsystem_stub_names() {
    std::ifstream stream(LIBSYSTEM_STUB);
    const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    const size_t start = text.find("symbols:");
    std::set<std::string> names;
    if (start == std::string::npos) return names;
    std::string list = text.substr(text.find('[', start) + 1);
    list = list.substr(0, list.find(']'));
    for (char& c : list)
        if (c == ',') c = ' ';
    for (const std::string& name : fields(list)) names.insert(name);
    return names;
}

// Every binding dyld performs, from the bind, lazy-bind and weak-bind
// tables: dylib ("libSystem" or "flat-namespace") and symbol.
TEST_P(MachOInterface, BindsTheCLibraryToLibSystemAndTheHostFlat) {
    const MacPlugin& plugin = GetParam();
    std::set<std::string> two_level, flat, other;
    for (const char* table : {"--bind", "--lazy-bind", "--weak-bind"}) {
        for (const std::string& line : lines(objdump(std::string("--macho ") + table, plugin))) {
            std::vector<std::string> f = fields(line);
            const bool weak_import = !f.empty() && f.back() == "(weak_import)";
            if (weak_import) f.pop_back();
            if (f.size() < 4 || f[0].rfind("__", 0) != 0) continue;  // not a table row
            const std::string& symbol = f.back();
            const std::string& dylib = f[f.size() - 2];
            if (std::string(table) == "--weak-bind") other.insert("weak " + symbol);
            else if (dylib == "libSystem") two_level.insert(symbol);
            else if (dylib == "flat-namespace") flat.insert(symbol + (weak_import ? " (weak)" : ""));
            else other.insert(dylib + " " + symbol);
        }
    }
    EXPECT_TRUE(other.empty()) << *other.begin();
    EXPECT_EQ(flat, plugin.host_names);
    const std::set<std::string> stub = libsystem_stub_names();
    ASSERT_GT(stub.size(), 10u) << "no symbol list read from " << LIBSYSTEM_STUB;
    for (const std::string& name : two_level) EXPECT_TRUE(stub.count(name)) << name;
    for (const char* needed : {"_exp", "_pthread_create", "_sysctlbyname"})
        EXPECT_TRUE(two_level.count(needed)) << needed;
}

// Neither a C++ runtime nor an unwinder's personality: nm -m lists every
// symbol, local and undefined alike.
TEST_P(MachOInterface, NeedsNoCxxRuntime) {
    const std::regex kRuntime("\\s(___cxa_|___gxx_personality|__Unwind_|__ZSt|__ZNSt|__Znw|__Zna|__Zdl|__Zda)");
    size_t symbols = 0;
    std::vector<std::string> found;
    for (const std::string& line : lines(run(std::string(LLVM_NM) + " -m '" + GetParam().file + "'"))) {
        ++symbols;
        const bool undefined = line.find("(undefined)") != std::string::npos;
        if (std::regex_search(line, kRuntime) || (undefined && line.find(" __Z") != std::string::npos))
            found.push_back(line);
    }
    EXPECT_GT(symbols, 30u);
    EXPECT_TRUE(found.empty()) << found.front();
}

// The disassembly of every path: no fused multiply-add (arm64: fmadd,
// fmsub, fnmadd, fnmsub, fmla, fmls; x86_64: the vfmadd family), the
// vector paths present (NEON; AVX2 and AVX-512), and the workers taking the
// caller's floating-point control register, which a new macOS thread does
// not inherit.
TEST_P(MachOInterface, CodeHasNoFusedMultiplyAddAndItsVectorPaths) {
    const bool arm64 = GetParam().arm64;
    const std::regex kInstruction("^\\s*[0-9a-f]+:\\s+(\\S+)\\s*(.*)$");
    const std::regex kFused(arm64 ? "^(fn?madd|fn?msub|fml[as])(\\.|$)" : "^vfn?m(add|sub)");
    size_t instructions = 0, fused = 0, neon = 0, ymm = 0, zmm = 0, control_loads = 0;
    std::string first_fused;
    for (const std::string& line : lines(objdump("-d --no-show-raw-insn", GetParam()))) {
        std::smatch m;
        if (!std::regex_match(line, m, kInstruction)) continue;
        ++instructions;
        const std::string mnemonic = m[1], operands = m[2];
        if (std::regex_search(mnemonic, kFused)) {
            if (fused++ == 0) first_fused = line;
        }
        neon += mnemonic.find(".4s") != std::string::npos || mnemonic.find(".2d") != std::string::npos;
        ymm += operands.find("%ymm") != std::string::npos;
        zmm += operands.find("%zmm") != std::string::npos;
        control_loads += arm64 ? mnemonic == "msr" && operands.find("FPCR") != std::string::npos
                               : mnemonic == "ldmxcsr";
    }
    EXPECT_GT(instructions, 1000u);
    EXPECT_EQ(fused, 0u) << first_fused;
    EXPECT_GT(control_loads, 0u);
    if (arm64) {
        EXPECT_GT(neon, 0u) << "no NEON path";
    } else {
        EXPECT_GT(ymm, 0u) << "no AVX2 path";
        EXPECT_GT(zmm, 0u) << "no AVX-512 path";
    }
}

INSTANTIATE_TEST_SUITE_P(Plugins, MachOInterface, ::testing::ValuesIn(kPlugins), param_name);

// --- the arm64 code signature ---------------------------------------------------

uint32_t big_endian(const std::string& bytes, size_t at) {
    if (at + 4 > bytes.size()) return 0;
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8 |
           static_cast<uint8_t>(bytes[at + 3]);
}

std::string hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        text += kDigits[static_cast<uint8_t>(c) >> 4];
        text += kDigits[static_cast<uint8_t>(c) & 15];
    }
    return text;
}

class MachOSignature : public ::testing::TestWithParam<MacPlugin> {};

// The signature ld64.lld writes, read as xnu's osfmk/kern/cs_blobs.h lays
// it out: an embedded-signature super blob (0xfade0cc0) whose code
// directory (slot 0, 0xfade0c02) is ad hoc (flag 0x2), hashes with SHA-256
// (type 2) and covers the file up to the signature, page by page; each
// page's hash is checked against sha256sum.
TEST_P(MachOSignature, IsAdHocAndMatchesEveryPage) {
    const MacPlugin& plugin = GetParam();
    size_t offset = 0;
    for (const LoadCommand& command : load_commands(objdump("--macho --private-headers", plugin)))
        if (command.cmd == "LC_CODE_SIGNATURE") offset = std::stoul(command.value("dataoff"));
    ASSERT_GT(offset, 0u);
    std::ifstream stream(plugin.file, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    ASSERT_EQ(big_endian(file, offset), 0xfade0cc0u);
    size_t directory = 0;
    for (uint32_t k = 0, count = big_endian(file, offset + 8); k < count; ++k)
        if (big_endian(file, offset + 12 + 8 * k) == 0)
            directory = offset + big_endian(file, offset + 16 + 8 * k);
    ASSERT_NE(directory, 0u) << "no code directory";
    ASSERT_EQ(big_endian(file, directory), 0xfade0c02u);
    EXPECT_NE(big_endian(file, directory + 12) & 0x2u, 0u) << "not ad hoc";
    const uint32_t hash_offset = big_endian(file, directory + 16);
    const uint32_t code_slots = big_endian(file, directory + 28);
    const uint32_t code_limit = big_endian(file, directory + 32);
    ASSERT_EQ(static_cast<uint8_t>(file[directory + 37]), 2) << "not SHA-256";
    const uint32_t page_size = 1u << static_cast<uint8_t>(file[directory + 39]);
    EXPECT_EQ(code_limit, offset);
    EXPECT_EQ(code_slots, (code_limit + page_size - 1) / page_size);

    const std::vector<std::string> sums =
        lines(run("head -c " + std::to_string(code_limit) + " '" + plugin.file + "' | split -b " +
                  std::to_string(page_size) + " --filter=sha256sum"));
    ASSERT_EQ(sums.size(), code_slots);
    for (uint32_t page = 0; page < code_slots; ++page)
        EXPECT_EQ(sums[page].substr(0, 64), hex(file.substr(directory + hash_offset + 32 * page, 32)))
            << "page " << page;
}

INSTANTIATE_TEST_SUITE_P(Arm64Plugins, MachOSignature,
                         ::testing::Values(kPlugins[0], kPlugins[1], kPlugins[2]), param_name);

}  // namespace
