#include "startup/launch/program_arguments.h"

#include "platform/program_parameters.h"

namespace zor {

std::vector<std::string> ProgramParameterList() {
  std::vector<std::string> parameters;
  const int count = ParamCount();
  for (int i = 1; i <= count; ++i) parameters.push_back(ParamStr(i));
  return parameters;
}

}  // namespace zor
