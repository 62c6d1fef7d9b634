#include "platform/command_line_split.h"

namespace zor {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  size_t p = 0;
  const size_t end = line.size();
  while (p < end && IsBlank(line[p])) ++p;
  if (p == end) return arguments;

  // The program name.
  std::string program;
  bool inQuotes = false;
  while (p < end && (inQuotes || !IsBlank(line[p]))) {
    if (line[p] == '"')
      inQuotes = !inQuotes;
    else
      program += line[p];
    ++p;
  }
  arguments.push_back(std::move(program));

  for (;;) {
    while (p < end && IsBlank(line[p])) ++p;
    if (p == end) break;
    std::string argument;
    inQuotes = false;
    for (;;) {
      size_t backslashes = 0;
      while (p < end && line[p] == '\\') {
        ++p;
        ++backslashes;
      }
      bool copy = true;
      if (p < end && line[p] == '"') {
        if (backslashes % 2 == 0) {
          if (inQuotes && p + 1 < end && line[p + 1] == '"') {
            ++p;  // "" inside quotes: a literal quote
          } else {
            copy = false;
            inQuotes = !inQuotes;
          }
        }
        backslashes /= 2;
      }
      argument.append(backslashes, '\\');
      if (p == end || (!inQuotes && IsBlank(line[p]))) break;
      if (copy) argument += line[p];
      ++p;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < argument.size() && argument[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, '\\');  // the closing quote must stay a quote
      break;
    }
    if (argument[i] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted += argument[i];
  }
  quoted += '"';
  return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i == 0) {
      const std::string& program = arguments[0];
      const bool quote = program.empty() || program.find_first_of(" \t") != std::string::npos;
      line += quote ? "\"" + program + "\"" : program;
    } else {
      line += ' ';
      line += QuoteArgument(arguments[i]);
    }
  }
  return line;
}

}  // namespace zor
