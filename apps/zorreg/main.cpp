// zorreg: the registry tool (query, add, delete, import, export on the registry store).
#include <iostream>
#include <string>
#include <vector>

#include "reg_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return zor::RunRegCommand(args, std::cin, std::cout, std::cerr);
}
