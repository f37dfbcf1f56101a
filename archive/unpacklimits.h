// The thresholds unpacking works within, side by side.
#pragma once

#include <cstddef>

namespace zrv {

// How many numbered names ("a (2)"...) are tried for one name before giving up.
constexpr int max_numbered_names = 100000;
// Links followed through other links before the path counts as a loop, as the kernel's.
constexpr int max_link_hops = 40;
// The longest link target a Linux system takes, and what all targets may hold together.
constexpr std::size_t max_link_target = 4095;
constexpr std::size_t max_link_bytes = 16 << 20;
// What is inflated but not yet written, so memory stays flat whatever the archive, also one of
// countless empty files.
constexpr std::size_t record_size = 1 << 20;
constexpr std::size_t max_bytes_in_flight = 8 << 20;
constexpr std::size_t max_records_in_flight = 1024;

} // namespace zrv
