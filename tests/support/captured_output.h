// A stand-in for standard output or error: a temporary file a view writes to, read back
// as text.
#pragma once

#include <cstdio>
#include <string>

namespace zor::testing {

class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::FILE* File() const { return Stream; }
  // Everything written so far.
  std::string Text() const;

 private:
  std::FILE* Stream;
};

}  // namespace zor::testing
