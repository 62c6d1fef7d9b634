// SHA-256 of file contents, as the pack cache records them to tell its own packed files from
// changed or planted ones. Hexadecimal, lower case, 64 characters.
#pragma once

#include <filesystem>
#include <string>

#include "update/sha256.h"

namespace zor {

// The SHA-256 of a whole file; raises `Exception` when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& path);

}  // namespace zor
