// Packing: writes the listed files and folders into a new ZIP archive.
#pragma once

#include <string>
#include <vector>

namespace zrv {

enum class Compression { stored, deflate };

// Packs `files` and `folders` (absolute UTF-8 paths) into a new archive at `archive_path`.
// With a non-empty `password` (UTF-8), every file's data is encrypted with WinZip AES-256;
// folders and links are not. Throws Failure; on failure nothing is left at or beside
// `archive_path`. With a progress attached, the inputs are surveyed before anything is
// written, and the progress decides whether what cannot be packed is left out or fails the
// call (see progress.h).
void pack(const std::vector<std::string> &files, const std::vector<std::string> &folders,
          const std::string &archive_path, Compression compression,
          const std::string &password = std::string());

} // namespace zrv
