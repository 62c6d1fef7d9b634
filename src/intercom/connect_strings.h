// The name of the server's local pipe: "zorserverpipe6x" + the text of a "/PIPE:" argument.
// (The pipe and TCP connect strings themselves are composed by their transports.)
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kServerPipeName = "zorserverpipe6x";

// "zorserverpipe6x" + what follows "/PIPE:" (any case) in the first argument starting with it.
std::string ServerPipeName(const std::vector<std::string>& arguments);

}  // namespace zor
