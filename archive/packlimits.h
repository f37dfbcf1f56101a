// The thresholds packing works within, side by side.
#pragma once

#include <cstddef>

namespace zrv {

// Entries up to one piece are compressed whole; longer ones in pieces of this size.
constexpr std::size_t piece_size = 1 << 20;
// What a piece of a longer entry may refer back to in the piece before it.
constexpr std::size_t history_size = 32 << 10;
// How much of a longer entry is tried first to decide whether it compresses at all.
constexpr std::size_t sample_size = 64 << 10;
// Bounds on the pieces read but not yet written, so memory stays flat whatever the input.
constexpr std::size_t max_pieces_in_flight = 16;
constexpr std::size_t max_piece_bytes_in_flight = 16 << 20;
// The archive reaches its file in runs of about this size.
constexpr std::size_t output_run_size = 1 << 20;
// Central records held in memory before they go to a nameless file beside the archive.
constexpr std::size_t max_directory_in_memory = 4 << 20;

} // namespace zrv
