// The binary interface of the 32-bit Windows filter, TARV_c.dll, read with
// i686-w64-mingw32-objdump: what a 32-bit Windows host finds in it. These
// tests need no wine and run on every machine that builds the filter.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "pe_interface.h"

namespace {

const std::string kLinuxPlugin = TARV_C_PLUGIN;
const std::string kDll = std::string(WIN32_BUILD_DIR) + "/TARV_c.dll";

std::string dump() {
    int status = 0;
    const std::string output = pe::objdump_p(MINGW_OBJDUMP, kDll, &status);
    EXPECT_EQ(status, 0) << output;
    return output;
}

TEST(Win32Interface, ExportsOnlyUnderscoreMexFunctionAtOrdinalOne) {
    const pe::Exports exports = pe::exports_of(dump());
    EXPECT_EQ(exports.base, 1);
    EXPECT_EQ(exports.names, std::vector<std::string>{"_mexFunction"});
    EXPECT_EQ(exports.name_ordinals, std::vector<long>{1});
    EXPECT_EQ(exports.address_ordinals, std::vector<long>{1});
}

TEST(Win32Interface, ImportsTheHostOperationsAndOnlyTheRuntimeItNeeds) {
    int status = 0;
    const std::set<std::string> linux_symbols = pe::linux_undefined(kLinuxPlugin, &status);
    ASSERT_EQ(status, 0) << "nm failed on " << kLinuxPlugin;
    // The host operations the Linux plug-in binds, under their plain names.
    std::map<std::string, std::set<std::string>> expected =
        pe::host_operations(linux_symbols, false);
    ASSERT_FALSE(expected["libmx.dll"].empty());
    ASSERT_FALSE(expected["libmex.dll"].empty());
    expected["CRTDLL.DLL"] = {"exp", "log"};
    // The start-up code in win32/dll_entry.cpp, and nothing else.
    expected["KERNEL32.dll"] = {"DisableThreadLibraryCalls"};
    EXPECT_EQ(pe::imports_of(dump()), expected);
}

}  // namespace
