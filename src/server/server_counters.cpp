#include "server/server_counters.h"

namespace zor {

std::string_view RefusalReasonName(RefusalReason reason) {
  switch (reason) {
    case RefusalReason::ServerFull:
      return "server_full";
    case RefusalReason::AddressFull:
      return "address_full";
    case RefusalReason::ProxyHeader:
      return "proxy_header";
    case RefusalReason::LogonFirst:
      return "logon_first";
    case RefusalReason::LogonRefused:
      return "logon_refused";
    case RefusalReason::RequestTooLarge:
      return "request_too_large";
    case RefusalReason::ResumeRefused:
      return "resume_refused";
    case RefusalReason::OtherRelease:
      return "other_release";
  }
  return "unknown";
}

}  // namespace zor
