// The names the Python package's library exports: the functions its C
// interface (python/library/tarvbandscore.h) declares, read from the
// header itself, so that the interface tests of every build compare its
// binaries with one list.
#pragma once

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

inline std::set<std::string> c_interface_names() {
    std::ifstream stream(PYTHON_LIBRARY_HEADER);
    const std::string text((std::istreambuf_iterator<char>(stream)),
                           std::istreambuf_iterator<char>());
    const std::regex declaration("TBS_EXPORT[^;(]*\\b(tarvbandscore_\\w+)\\(");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), declaration);
         it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}
