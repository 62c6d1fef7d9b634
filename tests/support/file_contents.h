// Whole-file reading and writing for tests: one call each, parents made on writing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zor::testing {

// The file's bytes; "" when it does not exist (yet) or cannot be read.
std::string ReadAll(const std::filesystem::path& path);
std::vector<uint8_t> ReadAllBytes(const std::filesystem::path& path);

// Replaces the file with `content`, making its parent folders; raises when it cannot.
void WriteAll(const std::filesystem::path& path, std::string_view content);
void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& content);

}  // namespace zor::testing
