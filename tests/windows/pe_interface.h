// Reading a Windows DLL's binary interface from `objdump -p` (the MinGW
// objdump of its architecture), and the host operations a Linux plug-in
// binds, from `nm -D`: what the interface tests of both Windows builds
// compare.
#pragma once

#include <stdio.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tool_output.h"
#include "wine_support.h"

namespace pe {

// The export table: the ordinal base and each exported name with its
// ordinal (the base plus its index in the name table).
struct Exports {
    long base = -1;
    std::vector<std::string> names;
    std::vector<long> name_ordinals;
    std::vector<long> address_ordinals;  // every entry of the address table
};

inline Exports exports_of(const std::string& dump) {
    Exports result;
    bool in_names = false;
    for (const std::string& line : lines(dump)) {
        long value;
        if (sscanf(line.c_str(), "Ordinal Base %ld", &value) == 1) result.base = value;
        if (sscanf(line.c_str(), " [%*d] +base[%ld]", &value) == 1)
            result.address_ordinals.push_back(value);
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            in_names = true;
        } else if (in_names) {
            char name[256];
            if (sscanf(line.c_str(), " [%ld] %255s", &value, name) != 2) {
                in_names = false;
            } else {
                result.names.push_back(name);
                result.name_ordinals.push_back(result.base + value);
            }
        }
    }
    return result;
}

// Imported names by DLL. After "DLL Name: X" each import is a line
// "vma hint name".
inline std::map<std::string, std::set<std::string>> imports_of(const std::string& dump) {
    std::map<std::string, std::set<std::string>> imports;
    std::string library;
    for (const std::string& line : lines(dump)) {
        const std::vector<std::string> tokens = fields(line);
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
    return imports;
}

// The symbols a Linux shared object leaves undefined, without their
// version suffixes; weak ones (the C library's optional hooks) left out.
inline std::set<std::string> linux_undefined(const std::string& path, int* status) {
    std::string output;
    *status = wine::run_command("nm -D --undefined-only " + wine::quoted(path), &output);
    std::set<std::string> names;
    std::istringstream symbols(output);
    std::string kind, name;
    while (symbols >> kind >> name)
        if (kind == "U") names.insert(name.substr(0, name.find('@')));
    return names;
}

// The host operations among them, split by library: mx... from libmx.dll,
// mex... from libmex.dll. With `keep_700` false the "_700" suffix of the
// 32-bit-dimension entry points is taken off, as 32-bit Windows hosts name
// them.
inline std::map<std::string, std::set<std::string>> host_operations(
    const std::set<std::string>& undefined, bool keep_700) {
    std::map<std::string, std::set<std::string>> operations;
    for (std::string name : undefined) {
        if (!keep_700 && name.size() > 4 && name.compare(name.size() - 4, 4, "_700") == 0)
            name.resize(name.size() - 4);
        if (name.rfind("mex", 0) == 0) operations["libmex.dll"].insert(name);
        else if (name.rfind("mx", 0) == 0) operations["libmx.dll"].insert(name);
    }
    return operations;
}

}  // namespace pe
