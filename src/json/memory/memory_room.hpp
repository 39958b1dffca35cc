// How much more memory the process may take: its address-space limit, its cgroup's limit and
// what the system reports available, so that an output that cannot fit fails before it is built.
#pragma once

#include <cstddef>

namespace tarvik::json {

// Below this size a block is not checked: the reading of the limits would cost more than the
// block's writing, and an allocation that fails still throws.
inline constexpr std::size_t kRoomCheckedSize = std::size_t{8} << 20;

// Throws std::bad_alloc when `bytes` more do not fit in the least of: the address-space limit
// less the address space in use, each enclosing cgroup's memory.max less its memory.current (or
// cgroup v1's memory.limit_in_bytes less its memory.usage_in_bytes), and the system's MemAvailable.
// The kept large blocks are given back before it fails.
void ensure_room_for(std::size_t bytes);

}  // namespace tarvik::json
