// The port through which integrated logon talks to the operating system's security package.
// Linux ships none: with no package installed, an authentication request of the server is
// answered with a clear error instead of a token. A deployment (or a test) installs one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kNoSecurityPackageText =
    "Integrated authentication is not available: no security package is installed on this "
    "computer.";

struct TSecurityStep {
  std::vector<uint8_t> Output;  // token for the server (may be empty)
  bool Continue = false;        // the package needs the server's answer token
};

// The client side of one authentication exchange.
class TSecurityContext {
 public:
  virtual ~TSecurityContext() = default;
  // The first call gets an empty input; failures raise (see `RaiseWinSecurityError`).
  virtual TSecurityStep Step(std::span<const uint8_t> input) = 0;
};

class TSecurityPackage {
 public:
  virtual ~TSecurityPackage() = default;
  virtual std::unique_ptr<TSecurityContext> Begin(std::string_view packageName) = 0;
};

// The installed package (not owned), or nullptr.
TSecurityPackage* GetSecurityPackage();
void SetSecurityPackage(TSecurityPackage* package);

}  // namespace zor
