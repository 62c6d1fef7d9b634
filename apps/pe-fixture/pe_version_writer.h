// Builds small but valid PE images, with or without a version resource, for tests and
// server fixtures that need executables of a known version on any OS.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

// A PE32 (or, with `pe64`, PE32+) image with one ".rsrc" section holding a version resource
// of file and product version a.b.c.d.
std::string BuildPeWithVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d, bool pe64 = false);
// The same image with an empty resource section.
std::string BuildPeWithoutVersion(bool pe64 = false);

}  // namespace zor
