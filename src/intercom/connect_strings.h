// The connect strings a client builds from its settings: "Host=" (or "ZORHost=" for a name the
// name service resolves) + host + ":" + port for TCP, "\\server\pipe\name" for a local pipe,
// and the pipe name "zorserverpipe6x" + the text of a "/PIPE:" argument.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kServerPipeName = "zorserverpipe6x";

std::string ComposeHostString(bool viaDiscovery, std::string_view host, int32_t port);
// The server becomes "." when it names this computer. Raises "The pipe name is not allow
// empty!" for an empty pipe name and "Error server name!" for a server end on another computer.
std::string ComposePipeString(std::string_view server, std::string_view pipeName, bool asServer);
// "zorserverpipe6x" + what follows "/PIPE:" (any case) in the first argument starting with it.
std::string ServerPipeName(const std::vector<std::string>& arguments);

}  // namespace zor
