// What the server counts for its metrics beyond what its tables already hold: the
// connections and requests it refused, by reason. Counted from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zor {

enum class RefusalReason {
  ServerFull,       // the connection limit
  AddressFull,      // the limit of connections from one address not yet logged on
  ProxyHeader,      // a listed balancer sent no valid PROXY header in time
  LogonFirst,       // a command before the logon
  LogonRefused,     // the site's logon check said no
  RequestTooLarge,  // a request over its budget, or over what all requests may take at once
  ResumeRefused,    // a resume of an unknown, foreign or busy session
  OtherRelease,     // a fetch of an update pass on another release than this server's
};
inline constexpr size_t kRefusalReasons = 8;

// The reason as the metrics label it ("server_full").
std::string_view RefusalReasonName(RefusalReason reason);

class TServerCounters {
 public:
  void Refused(RefusalReason reason) { Refusals[Index(reason)].fetch_add(1); }
  int64_t RefusedFor(RefusalReason reason) const { return Refusals[Index(reason)].load(); }

 private:
  static size_t Index(RefusalReason reason) { return static_cast<size_t>(reason); }
  std::array<std::atomic<int64_t>, kRefusalReasons> Refusals{};
};

}  // namespace zor
