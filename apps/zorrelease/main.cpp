// zorrelease: keys, signing and checking of signed release folders.
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "server/release_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return zor::RunReleaseCommand(args, std::cout, std::cerr, std::chrono::system_clock::now());
}
