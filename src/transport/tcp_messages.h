// Texts of the socket transports shown to users.
#pragma once

#include <string_view>

namespace zor {

inline constexpr std::string_view kCannotConnectToServerText = "无法连接到APP服务器!";
inline constexpr std::string_view kWinSockErrorFormat = "WinSock Error. Code: %d. %s";

}  // namespace zor
