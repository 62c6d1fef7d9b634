// Texts of the socket transports shown to users.
#pragma once

#include <string_view>

namespace zor {

inline constexpr std::string_view kCannotConnectToServerText = "无法连接到APP服务器!";
inline constexpr std::string_view kWinSockErrorFormat = "WinSock Error. Code: %d. %s";
// A failed connect names what it tried ("host:port", or the name and the name service):
// "cannot connect to [%s], because: reason", as a failed pipe connect says it.
inline constexpr std::string_view kTcpConnectErrorFormat = "无法连接至[%s], 因为：\r\n%s";

}  // namespace zor
