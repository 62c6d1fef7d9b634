// The cloud client library: the sender object behind "CreateM880CloudSender". It asks the
// lookup service over HTTP (see transport/cloud_lookup_wire.h) and hands the answer back as
// the array the caller expects: [result code, answer text, second text, error text].
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/utf.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/open_or_fail.h"
#include "startup/server_settings/cloud_sender_interface.h"
#include "transport/cloud_lookup_wire.h"
#include "transport/http_client.h"

namespace zor {
namespace {

// The whole exchange with the lookup service must end within this time.
constexpr int kExchangeTimeoutMs = 10000;
constexpr int32_t kMaxArguments = 16;
constexpr std::string_view kLogFileName = "M880CloudClient.log";

std::string ToUtf8(const char16_t* text, int32_t length) {
  if (!text || length <= 0) return {};
  return Utf16ToUtf8(std::u16string_view(text, static_cast<size_t>(length)));
}

// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

std::string TimeStamp() {
  const LocalDateTime t = ToLocalDateTime(GetClock().UtcNow());
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year, t.Month,
                t.Day, t.Hour, t.Minute, t.Second, t.Millisecond);
  return buffer;
}

class TM880CloudSender final : public IM880CloudSender {
 public:
  int32_t SetServerAddress(const char16_t* address, int32_t length) override {
    return Guard([&] { Address = ToUtf8(address, length); });
  }
  int32_t SetPort(int32_t port) override {
    return Guard([&] {
      if (port <= 0 || port > 65535) throw Exception("invalid port " + std::to_string(port));
      Port = static_cast<uint16_t>(port);
    });
  }
  int32_t SetLogPath(const char16_t* path, int32_t length) override {
    return Guard([&] { LogPath = ToUtf8(path, length); });
  }
  int32_t Call(int32_t code, const TCloudValue* args, int32_t argCount, const TCloudValue** answer,
               int32_t* answerCount) override {
    return Guard([&] { RunCall(code, args, argCount, answer, answerCount); });
  }
  const char16_t* ErrorText() override { return Error.c_str(); }
  void Release() override { delete this; }

 private:
  template <typename Body>
  int32_t Guard(Body body) {
    try {
      Error.clear();
      body();
      return kCloudStatusOk;
    } catch (const std::exception& error) {
      Error = Utf8ToUtf16(error.what());
    } catch (...) {
      Error = u"unknown failure in the cloud client library";
    }
    return kCloudStatusFailed;
  }

  void RunCall(int32_t code, const TCloudValue* args, int32_t argCount, const TCloudValue** answer,
               int32_t* answerCount) {
    if (!answer || !answerCount) throw Exception("no place for the answer");
    if (argCount < 0 || argCount > kMaxArguments || (argCount > 0 && !args)) {
      throw Exception("invalid argument count " + std::to_string(argCount));
    }
    HttpAddress address;
    if (!ParseHttpAddress(Address, address))
      throw Exception("invalid lookup server address \"" + Address + "\"");
    if (!address.ExplicitPort) address.Port = Port;

    std::string target = address.BasePath + std::string(kCloudCallPath) + "?" +
                         std::string(kCloudParamCode) + "=" + std::to_string(code);
    for (int32_t i = 0; i < argCount; ++i) {
      std::string value;
      if (args[i].Kind == kCloudValueText) {
        value = ToUtf8(args[i].Text, args[i].Length);
      } else if (args[i].Kind == kCloudValueInteger) {
        value = std::to_string(args[i].Integer);
      } else if (args[i].Kind != kCloudValueEmpty) {
        throw Exception("argument " + std::to_string(i) + " has an unknown kind");
      }
      target += "&P" + std::to_string(i) + "=" + PercentEncode(value);
    }

    HttpRequest request;
    request.Method = "GET";
    request.Target = target;
    request.Headers.push_back(HttpHeader{"Accept", "application/json"});
    request.Headers.push_back(HttpHeader{"Connection", "close"});
    HttpResponse response;
    try {
      response = HttpExchange(address, request, kExchangeTimeoutMs);
    } catch (const std::exception& error) {
      Log("call " + std::to_string(code) + " " + target + " failed: " + error.what());
      throw;
    }
    Log("call " + std::to_string(code) + " " + target + " -> " + std::to_string(response.Status));

    Texts.assign(3, std::u16string());
    int32_t result = 0;
    if (response.Status == 200) {
      Texts[0] = Utf8ToUtf16(response.Body);
    } else {
      result = response.Status;
      std::string reason = CutUtf8(response.Body, kMaxCloudErrorTextBytes);
      if (reason.empty())
        reason = "HTTP " + std::to_string(response.Status) + " " + response.Reason;
      Texts[2] = Utf8ToUtf16(reason);
    }
    Answer.assign(4, TCloudValue{});
    Answer[0] = TCloudValue{kCloudValueInteger, result, nullptr, 0};
    for (size_t i = 0; i < 3; ++i) {
      Answer[i + 1] =
          TCloudValue{kCloudValueText, 0, Texts[i].c_str(), static_cast<int32_t>(Texts[i].size())};
    }
    *answer = Answer.data();
    *answerCount = static_cast<int32_t>(Answer.size());
  }

  // One line per exchange in the log folder, when one is set; a log that cannot be written
  // does not fail the call.
  void Log(const std::string& line) {
    if (LogPath.empty()) return;
    try {
      // Made as any folder the user makes (the umask applies).
      CurrentFileSystem().CreateFolders(LogPath, 0777);
    } catch (const EFileSystemError&) {
      // The open below fails then, and the call goes on without a log.
    }
    // Never through a link another user put at the name; a new log is private.
    try {
      OpenOrFail((std::filesystem::path(LogPath) / kLogFileName).string(), OpenMode::Append,
                 OpenOptions{.Permissions = kPrivateFileMode})
          ->WriteAllAt(0, TimeStamp() + " " + line + "\r\n");
    } catch (const std::exception&) {
    }
  }

  std::string Address;
  uint16_t Port = kDefaultHttpPort;
  std::string LogPath;
  std::u16string Error;
  std::vector<std::u16string> Texts;
  std::vector<TCloudValue> Answer;
};

}  // namespace
}  // namespace zor

extern "C" __attribute__((visibility("default"))) void CreateM880CloudSender(
    zor::IM880CloudSender** sender) {
  if (!sender) return;
  try {
    *sender = new zor::TM880CloudSender();
  } catch (...) {
    *sender = nullptr;
  }
}
