// The server's own texts and result codes, in one place: what services, the routing and
// the file and name services raise or log. Texts are the system's words, byte for byte.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

// Command bases of services.
inline constexpr std::string_view kTextBaseTooSmall = "The command base can't smaller than 0x%x!";
inline constexpr std::string_view kTextBaseTooBig = "The command base can't bigger than 0x%x";
inline constexpr std::string_view kTextBaseNotAligned =
    "The command base must offset by hexadecimal value 0x100!";
inline constexpr uint32_t kMinCommandBase = 0x100;
inline constexpr uint32_t kMaxCommandBase = 0xB000;  // exclusive

// Services on a server.
inline constexpr std::string_view kTextSameBase =
    "The command base of this service is the same with %s service";
inline constexpr std::string_view kTextSameName = "The server already include a service named %s!";
inline constexpr std::string_view kTextNotOwner = "This service does not belong this server!";
inline constexpr std::string_view kTextNotActive = "The server is not actived!";
inline constexpr std::string_view kTextActive = "The server is actived!";
inline constexpr std::string_view kTextListenerTwice =
    "The handler with connect string [%s] is already on server!";
inline constexpr std::string_view kTextServiceStopped = "%s 服务目前并没有启动！";
inline constexpr std::string_view kTextMayNotStop = "这个服务禁止被停止运行！";
inline constexpr std::string_view kTextInvalidCommand = "[0x%4x] 不是一个合法的命令！";

// Start and stop reports (tag kLogTagStartStop).
inline constexpr std::string_view kLogTagStartStop = "SrvStartAndStop";
inline constexpr std::string_view kTextSetEnabledBegin = "TZORService.SetEnabled_begin";
inline constexpr std::string_view kTextSetEnabledEnd = "TZORService.SetEnabled_end";
inline constexpr std::string_view kTextStartAborted =
    "Start is aborted! See the event logs for more information!";
inline constexpr std::string_view kTextUnknownErrorObject = "Unknown error of TObject: ";

// Accepting clients.
inline constexpr std::string_view kTextClientBegin = "Client Connection Begin.";
inline constexpr std::string_view kTextClientEnd = "Client Connection End.";
inline constexpr std::string_view kTextClientConnected = "Client is connected! Handler=";
inline constexpr std::string_view kTextInvalidHandler = "Invalid handler occured! Handler=";
// Our own: a client beyond the connection limit is told so and disconnected.
inline constexpr std::string_view kTextTooManyClients = "服务器的连线数已达上限(%d)，请稍后再试！";
// Our own: one address may hold only so many of the server's connections.
inline constexpr std::string_view kTextTooManyFromAddress =
    "来自 %s 的连线数已达上限(%d)，请稍后再试！";
// Our own: before logon a connection may only open its session.
inline constexpr std::string_view kTextLogonFirst =
    "请先登录服务器！命令 [0x%x] 需要已登录的连线。";

// TCP control service.
inline constexpr std::string_view kTextTCPServiceName = "TCP Control Service";
inline constexpr std::string_view kTextTCPServiceDescription =
    "用来设定服务器TCP/IP连接方式的服务。透过此服务可以让使用者改变服务器TCP/"
    "IP连接使用的IP地址、端口(Port)或限制连接对象的来源IP。";
inline constexpr std::string_view kTextTCPAdminOnly = "只有超级用户才能更改服务器的TCP设定！";
inline constexpr std::string_view kTextInvalidIP = "Invalid IP address!";
inline constexpr std::string_view kTextInvalidAcceptMode = "Invalid accept mode!";

// Built-in commands. Our own: integrated logon needs a security package this server lacks.
inline constexpr std::string_view kTextNoSecurityPackage =
    "这个服务器并没有可用的安全性套件，无法使用整合验证登录！";

// Resume of a session after a broken transport.
inline constexpr std::string_view kTextSessionUnknown =
    "指定的连接句柄在服务器并不存在！可能是因为超时已被服务器删除。";
inline constexpr std::string_view kTextLogonRefused = "The server refused the logon.";
inline constexpr std::string_view kTextSessionMismatch =
    "指定的连接句柄与目前的连接句柄的客户端讯息并不符合！";
inline constexpr std::string_view kTextSessionBusy =
    "经过一段时间后，原连线仍然没有回应！无法重新连接。";

// The result code of an error reply for a plain exception inside the server (the other
// codes are the wire format's, intercom/wire_format.h).
inline constexpr uint32_t kCodeExecuteError = 0x74000003;

}  // namespace zor
