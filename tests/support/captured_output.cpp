#include "support/captured_output.h"

#include <stdexcept>

namespace zor::testing {

CapturedOutput::CapturedOutput() : Stream(std::tmpfile()) {
  if (Stream == nullptr) throw std::runtime_error("tmpfile failed");
}

CapturedOutput::~CapturedOutput() {
  std::fclose(Stream);
}

std::string CapturedOutput::Text() const {
  std::fflush(Stream);
  const long end = std::ftell(Stream);
  std::rewind(Stream);
  std::string text;
  char buffer[256];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, Stream)) > 0) text.append(buffer, got);
  std::fseek(Stream, end, SEEK_SET);
  return text;
}

}  // namespace zor::testing
