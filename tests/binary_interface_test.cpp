// The built Linux plug-ins' binary interface, read with readelf: what they
// export, which libraries they need and which host names they bind.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream stream(line);
    for (std::string field; stream >> field;) result.push_back(field);
    return result;
}

struct DynamicSymbol {
    std::string name;  // with its version, as readelf prints it
    bool defined;
};

std::vector<DynamicSymbol> dynamic_symbols(const std::string& path) {
    std::vector<DynamicSymbol> symbols;
    for (const std::string& line : lines(run("readelf --dyn-syms -W '" + path + "'"))) {
        const std::vector<std::string> f = fields(line);
        // Num: Value Size Type Bind Vis Ndx Name
        if (f.size() < 8 || f[0].back() != ':' || f[0] == "Num:") continue;
        if (f[7].empty()) continue;
        symbols.push_back({f[7], f[6] != "UND"});
    }
    return symbols;
}

std::string unversioned(const std::string& name) { return name.substr(0, name.find('@')); }

struct PluginInterface {
    const char* name;
    const char* path;
    std::set<std::string> host_operations;
};

class BinaryInterfaceTest : public ::testing::TestWithParam<PluginInterface> {};

TEST_P(BinaryInterfaceTest, NeedsExactlyTheHostAndSystemLibrariesInOrder) {
    std::vector<std::string> needed;
    for (const std::string& line : lines(run(std::string("readelf -d -W '") + GetParam().path + "'")))
        if (line.find("(NEEDED)") != std::string::npos)
            needed.push_back(line.substr(line.find('[') + 1, line.find(']') - line.find('[') - 1));
    EXPECT_EQ(needed, (std::vector<std::string>{"libmx.so", "libmex.so", "libm.so.6",
                                                "libpthread.so.0", "libc.so.6"}));
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
        // weak references every shared object's start-up code makes.
        const bool from_glibc = symbol.name.find("@GLIBC_") != std::string::npos;
        const bool startup = name == "__gmon_start__" || name == "_ITM_registerTMCloneTable" ||
                             name == "_ITM_deregisterTMCloneTable";
        EXPECT_TRUE(from_glibc || startup) << "unexpected binding: " << symbol.name;
        EXPECT_EQ(name.rfind("_Z", 0), std::string::npos) << "C++ runtime symbol: " << symbol.name;
    }
    EXPECT_EQ(host_bound, GetParam().host_operations);
}

// The operations each plug-in reads its arguments, creates its result and
// reports with: the size-dependent ones under their 32-bit "_700" names.
const std::set<std::string> kArgumentChecks = {"mxGetClassID", "mxIsComplex", "mxIsSparse",
                                               "mxGetNumberOfElements", "mexErrMsgIdAndTxt"};

std::set<std::string> with_checks(std::set<std::string> operations) {
    operations.insert(kArgumentChecks.begin(), kArgumentChecks.end());
    return operations;
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, BinaryInterfaceTest,
    ::testing::Values(
        PluginInterface{"TARV_c", TARV_C_PLUGIN,
                        with_checks({"mxCreateNumericMatrix_700", "mxCreateDoubleMatrix_700",
                                     "mxGetPr", "mxGetScalar", "mxGetM", "mxGetN",
                                     "mxCreateString", "mexCallMATLABWithTrap", "mxDestroyArray"})},
        PluginInterface{"bandscore", BANDSCORE_PLUGIN,
                        with_checks({"mxDuplicateArray", "mxGetDimensions_700", "mxGetPr",
                                     "mxCreateNumericArray_700"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BinaryInterfaceTest, FilterTakesItsMathFromLibm) {
    std::set<std::string> math;
    for (const DynamicSymbol& symbol : dynamic_symbols(TARV_C_PLUGIN)) {
        const std::string name = unversioned(symbol.name);
        if (!symbol.defined && (name == "exp" || name == "logf" || name == "malloc" || name == "free"))
            math.insert(name);
    }
    EXPECT_EQ(math, (std::set<std::string>{"exp", "logf", "malloc", "free"}));
}

}  // namespace
