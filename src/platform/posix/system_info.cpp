#include "platform/system_info.h"

#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/posix/user_account.h"

namespace zor {

std::string GetComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  std::string result(name);
  const size_t dot = result.find('.');
  if (dot != std::string::npos) result.resize(dot);
  return result;
}

std::string GetUserName() {
  if (const std::optional<UserAccount> account = CurrentUserAccount();
      account && !account->Name.empty())
    return account->Name;
  if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') return user;
  return std::to_string(geteuid());
}

std::string GetNetworkAdapterText() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::string result;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_PACKET) continue;
    if ((it->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
    if (link->sll_halen == 0 || link->sll_halen > sizeof(link->sll_addr)) continue;
    bool allZero = true;
    for (int i = 0; i < link->sll_halen; ++i) allZero = allZero && link->sll_addr[i] == 0;
    if (allZero) continue;
    result = it->ifa_name != nullptr ? it->ifa_name : "";
    result += ' ';
    for (int i = 0; i < link->sll_halen; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), i == 0 ? "%02X" : "-%02X", link->sll_addr[i]);
      result += hex;
    }
    break;
  }
  freeifaddrs(list);
  return result;
}

int32_t GetOSCode() {
  return kOsCodeLinux;
}

uint32_t GetCurrentSessionId() {
  return 0;
}

bool IsRemoteSession() {
  return false;
}

std::string GetExePath() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size())
      return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace zor
