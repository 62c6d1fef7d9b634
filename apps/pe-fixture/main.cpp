// zorpe FILE a.b.c.d: writes a small PE image whose version resource says a.b.c.d, so that a
// sample release folder can hold libraries of known versions on any OS.
#include <cstdio>
#include <string>

#include "base/exceptions.h"
#include "base/number_strings.h"
#include "base/string_routines.h"
#include "pe_version_writer.h"
#include "platform/file_system.h"

namespace {

constexpr const char* kUsage = "usage: zorpe FILE MAJOR.MINOR.RELEASE.BUILD\n";

uint16_t Part(std::string& rest) {
  const std::string text = zor::FetchToken(rest, ".");
  const int32_t value = zor::StrToIntStrict(text);
  if (value < 0 || value > 0xFFFF) throw zor::Exception("version part out of range: " + text);
  return static_cast<uint16_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    std::string rest = argv[2];
    const uint16_t a = Part(rest), b = Part(rest), c = Part(rest), d = Part(rest);
    if (!rest.empty()) throw zor::Exception("a version has four parts");
    const std::string image = zor::BuildPeWithVersion(a, b, c, d);
    try {
      // A sample file for anyone to read, as the files a user makes.
      auto out = zor::CurrentFileSystem().Open(argv[1], zor::OpenMode::CreateOrTruncate, 0666);
      out->WriteAllAt(0, image);
      out->Close();
    } catch (const zor::EFileSystemError&) {
      throw zor::Exception(std::string("cannot write ") + argv[1]);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zorpe: %s\n", e.what());
    return 1;
  }
  return 0;
}
