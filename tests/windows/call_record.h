// The text both test hosts give a recorded "waitbar" or "close" call, so the
// Windows test host's report and the Linux test host's recorder compare as
// strings: name, output count, then each input as the handle's number (in
// order of first appearance across the calls) and its content, a double's
// bits in hex or a character array's text.
#pragma once

#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "test_host.h"

inline std::string hex_bits(uint64_t bits, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(static_cast<size_t>(digits), '0');
    for (int k = digits - 1; k >= 0; --k, bits >>= 4) text[static_cast<size_t>(k)] = kDigits[bits & 15];
    return text;
}

inline std::string hex_of_double(double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    return hex_bits(bits, 16);
}

inline std::vector<std::string> describe_calls(const std::vector<testhost::InterpreterCall>& calls) {
    std::map<const mxArray*, size_t> numbers;
    std::vector<std::string> lines;
    for (const testhost::InterpreterCall& call : calls) {
        std::string line = call.name + " " + std::to_string(call.nlhs);
        for (size_t k = 0; k < call.inputs.size(); ++k) {
            const size_t number = numbers.emplace(call.inputs[k], numbers.size()).first->second;
            line += " | #" + std::to_string(number) + " ";
            line += call.texts[k].empty() ? "d" + hex_of_double(call.first_values[k])
                                          : "s" + call.texts[k];
        }
        lines.push_back(line);
    }
    return lines;
}
