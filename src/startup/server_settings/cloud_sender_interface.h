// The binary interface of the cloud client library "M880CloudClient.dll": the factory it
// exports and the sender object the factory hands out. Only plain types cross the boundary
// (UTF-16 text with explicit lengths, 32-bit integers, arrays of tagged values), so the
// library and the program need share nothing but this header.
//
// Every method answers a status: 0 for success; on any other value `ErrorText` says why.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

inline constexpr std::string_view kCloudLibraryFileName = "M880CloudClient.dll";
inline constexpr std::string_view kCloudFactoryName = "CreateM880CloudSender";

inline constexpr int32_t kCloudStatusOk = 0;
inline constexpr int32_t kCloudStatusFailed = 1;

enum TCloudValueKind : int32_t {
  kCloudValueEmpty = 0,
  kCloudValueInteger = 1,
  kCloudValueText = 2
};

// One element of an argument or answer array.
struct TCloudValue {
  int32_t Kind = kCloudValueEmpty;
  int32_t Integer = 0;
  const char16_t* Text = nullptr;  // kCloudValueText: `Length` UTF-16 units
  int32_t Length = 0;
};

class IM880CloudSender {
 public:
  virtual int32_t SetServerAddress(const char16_t* address, int32_t length) = 0;
  virtual int32_t SetPort(int32_t port) = 0;
  // The folder the library logs its exchanges into; empty: no log.
  virtual int32_t SetLogPath(const char16_t* path, int32_t length) = 0;
  // Runs function `code` with `argCount` arguments. On success `*answer` points at
  // `*answerCount` values owned by the sender, valid until its next call or its release.
  virtual int32_t Call(int32_t code, const TCloudValue* args, int32_t argCount,
                       const TCloudValue** answer, int32_t* answerCount) = 0;
  // Why the last call failed (UTF-16, zero-terminated; owned by the sender).
  virtual const char16_t* ErrorText() = 0;
  virtual void Release() = 0;

 protected:
  ~IM880CloudSender() = default;
};

// The exported factory: stores a new sender in `*sender`, or nullptr when it cannot make one.
using CreateM880CloudSenderFn = void (*)(IM880CloudSender** sender);

}  // namespace zor
