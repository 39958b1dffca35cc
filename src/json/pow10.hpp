// The powers of ten that are exact doubles, for the reader's fast number conversion:
// POW10[i] is 10^i exactly, which no double beyond 10^22 can hold.
#pragma once

namespace tarvik::json {

inline constexpr double POW10[23] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
};

}  // namespace tarvik::json
