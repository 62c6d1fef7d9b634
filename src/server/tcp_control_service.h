// The TCP control service: owns the server's TCP listener, built from its settings (or the
// "/I:" port of the command line), and lets an administrator query and change them.
//   0xAF00 query the settings: [Boolean enable, integer port, string bound IP, integer
//          accept mode, string IP list] (the shape 0xAF02 takes)
//   0xAF01 query the listener: [Boolean listening, string listener parameter string,
//          integer connected transports]
//   0xAF02 set the settings (administrators only), restarting the listener
//   0xAF03 the default port: [integer]
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "server/tcp_control_settings.h"
#include "server/zor_service.h"

namespace zor {

class TServerListener;

inline constexpr uint32_t kTCPControlBase = 0xAF00;
inline constexpr uint32_t kCmdTCPQuerySettings = 0xAF00;
inline constexpr uint32_t kCmdTCPQueryListener = 0xAF01;
inline constexpr uint32_t kCmdTCPSetSettings = 0xAF02;
inline constexpr uint32_t kCmdTCPDefaultPort = 0xAF03;

class TTCPControlService : public TZORService {
 public:
  // Reads the settings from the server's store; `portSwitch` is the "/I:" port and
  // `bindAddress` the local address of the command line, when given.
  TTCPControlService(TZORServer* server, std::optional<uint16_t> portSwitch = std::nullopt,
                     std::optional<std::string> bindAddress = std::nullopt,
                     uint16_t defaultPort = kDefaultServerPort);
  ~TTCPControlService() override;
  const char* ClassName() const override { return "TTCPControlService"; }

  TTCPSettings Current() const;
  // Turns the listener on or off for this run only (the command line's --tcp), before start.
  void OverrideEnableTCP(bool enable);
  uint16_t DefaultPort() const { return Default; }
  // Validates, restarts the listener when enabled, and stores the settings.
  void ApplySettings(bool enable, int64_t port, const std::string& boundIP, int64_t acceptMode,
                     const std::string& ipList);

 protected:
  void DoStart() override;
  void DoStop() override;

 private:
  void StartListener(const TTCPSettings& settings);
  void StopListener();

  uint16_t Default;
  mutable std::mutex Lock;
  TTCPSettings Settings;
  TServerListener* Listener = nullptr;
};

}  // namespace zor
