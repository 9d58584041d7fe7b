// What the tests' tables of cases share: their names, and seeded inputs.
#pragma once

#include <random>
#include <string>
#include <vector>

// Names each case of a parameterised test by its `name` field.
inline constexpr auto param_name = [](const auto& info) { return std::string(info.param.name); };

// `count` values drawn uniformly from [low, high) by a generator seeded with
// `seed`: the same values on every machine.
template <typename T>
std::vector<T> uniform_values(size_t count, T low, T high, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<T> draw(low, high);
    std::vector<T> values(count);
    for (T& v : values) v = draw(generator);
    return values;
}
