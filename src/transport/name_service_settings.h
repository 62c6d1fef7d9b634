// Where the name service of host discovery lives: a host and a UDP port. The defaults
// can be changed per machine in the registry store, under the client key
// (HKLM, else HKCU, "Software\ZOR\DK880"), with the values
//   "ZORHostServer" (string)  the name service's host name or dotted address
//   "ZORHostPort"   (DWORD)   its UDP port
// The process reads them once at start (`LoadNameServiceSettings`); tests set them directly.
#pragma once

#include <cstdint>
#include <string>

#include "transport/zor_host_format.h"

namespace zor {

// A single-label name, so that each site's own DNS decides where its name service runs.
inline constexpr const char* kDefaultNameServiceHost = "zorhost";
inline constexpr const char* kNameServiceHostValue = "ZORHostServer";
inline constexpr const char* kNameServicePortValue = "ZORHostPort";

struct TNameServiceSettings {
  std::string Host = kDefaultNameServiceHost;
  uint16_t Port = zorhost::kDefaultPort;
};

TNameServiceSettings GetNameServiceSettings();
void SetNameServiceSettings(const TNameServiceSettings& settings);
// Back to the defaults.
void ResetNameServiceSettings();
// Reads the registry values over the defaults (each value from HKLM when it is there, else
// from HKCU) and installs the result. A port outside 1..65535 keeps the default.
void LoadNameServiceSettings();

}  // namespace zor
