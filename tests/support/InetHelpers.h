#pragma once

// Small helpers the FTP library's tests share.

#include "engine/inet/InternetError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kxtest {

// The number of the library error `f` throws, 0 when it throws none.
inline std::uint32_t ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const inet::InternetError& e) {
        return e.number();
    }
    return 0;
}

// `n` bytes that look random and repeat for the same seed; fast enough for
// files of tens of megabytes.
inline std::string RandomBytes(std::size_t n, std::uint64_t seed)
{
    std::string s(n, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 8 == 0)
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        s[i] = static_cast<char>(x >> (8 * (i % 8)));
    }
    return s;
}

} // namespace kxtest
