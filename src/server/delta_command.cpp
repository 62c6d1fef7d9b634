#include "server/delta_command.h"

#include <algorithm>
#include <memory>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/ic_connection.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "server/server_call.h"
#include "transport/ic_errors.h"
#include "update/delta_fetch.h"
#include "update/delta_wire.h"
#include "update/sha256.h"

namespace zor {

namespace {

constexpr std::string_view kTextNoSuchFile = "服务器上并没有档案 %s！";

// Thrown through the delta maker when the delta is not worth sending.
struct TDeltaDeclined {};

[[noreturn]] void InvalidArgument(std::string message) {
  throw EInvalidCommand(std::move(message), nullptr, kErrInvalidArgument);
}

const std::string& TextArg(const TVariantArray& args, size_t index) {
  if (index >= args.size() || !args[index].IsString())
    InvalidArgument(std::string(kCommandArgumentInvalidText));
  return args[index].Text();
}

// One of the deltas made at once, while it lasts; none when all are taken.
class TDeltaSlot {
 public:
  TDeltaSlot(std::atomic<int>& running, int most) : Running(running) {
    Held = Running.fetch_add(1) < most;
  }
  ~TDeltaSlot() { Running.fetch_sub(1); }
  TDeltaSlot(const TDeltaSlot&) = delete;
  TDeltaSlot& operator=(const TDeltaSlot&) = delete;
  bool Held = false;

 private:
  std::atomic<int>& Running;
};

}  // namespace

TDeltaRequest ParseDeltaRequest(const TVariantArray& args) {
  TDeltaRequest request;
  request.Name = TextArg(args, 0);
  request.Area = TextArg(args, 1);
  request.Lang = TextArg(args, 2);
  if (args.size() < 4 || args[3].Type() != (kVarArray | kVarByte))
    InvalidArgument(std::string(kCommandArgumentInvalidText));
  const TVarArrayData& data = args[3].ArrayData();
  if (data.Bounds.size() != 1) InvalidArgument(std::string(kCommandArgumentInvalidText));
  try {
    CheckDeltaSignature(data.Raw);
  } catch (const EDeltaFormatError& e) {
    InvalidArgument(e.what());
  }
  request.Signature = data.Raw;
  return request;
}

TDeltaCommand::TDeltaCommand(TReleaseFolder& folder, TPackedLookup packed,
                             std::atomic<int64_t>& served, TDeltaLimits limits)
    : Folder(folder), Packed(std::move(packed)), Served(served), Limits(limits) {}

void TDeltaCommand::Serve(TServiceMessage& message) {
  TServerCall& call = *message.Call;
  const TDeltaRequest request = ParseDeltaRequest(call.Args);
  const std::optional<TReleaseFile> file = Folder.Find(request.Name, request.Area);
  if (!file) {
    call.Reply({TVariant(false), TVariant(""), TVariant(0), TVariant(0), TVariant(kNoDelta),
                TVariant(""), TVariant(0)});
    message.Result = 1;
    return;
  }
  const auto age = static_cast<int32_t>(file->DosTime);
  const int64_t packedSize = Packed(*file, &call).Size;
  const auto decline = [&] {
    ++DeclinedCount;
    call.Reply({TVariant(true), TVariant(file->Version), TVariant(static_cast<int32_t>(file->Size)),
                TVariant(age), TVariant(kNoDelta), TVariant(""),
                TVariant(static_cast<int32_t>(packedSize))});
    message.Result = 1;
  };
  TDeltaSlot slot(Running, Limits.MaxJobs);
  if (!slot.Held || file->Size > kDeltaMaxFileBytes) return decline();

  // Opened below the release folder without following links, like every served file.
  std::unique_ptr<PositionedFile> stream;
  try {
    stream = CurrentFileSystem().OpenBelow(
        file->Root.string(), file->Path.lexically_relative(file->Root).generic_string());
  } catch (const EFileSystemError&) {
    throw Exception(Format(kTextNoSuchFile, {request.Name}));
  }
  const size_t limit = static_cast<size_t>(std::min<int64_t>(
      static_cast<int64_t>(kDeltaMaxWireBytes), packedSize * Limits.PaysPercent / 100));
  TDeltaDeflater deflater(limit);
  TSha256 hash;
  int64_t size = 0;
  const auto started = GetClock().Now();
  try {
    MakeDelta(
        request.Signature,
        [&](uint8_t* buffer, size_t count) {
          size_t got = 0;
          try {
            got = ReadUpTo(*stream, size, buffer, count);
          } catch (const EFileSystemError&) {
            throw Exception("Cannot read a served file");
          }
          hash.Update(buffer, got);
          size += static_cast<int64_t>(got);
          if (size > kDeltaMaxFileBytes) throw TDeltaDeclined{};
          return got;
        },
        [&](const uint8_t* data, size_t count) {
          if (!deflater.Add(data, count)) throw TDeltaDeclined{};
        },
        [&] {
          call.KeepAlive();
          if (call.Cancelled()) throw EAbort("The server is stopping");
          if (GetClock().Now() - started > Limits.TimeLimit) throw TDeltaDeclined{};
        });
    if (!deflater.Finish()) throw TDeltaDeclined{};
  } catch (const TDeltaDeclined&) {
    return decline();
  } catch (const EDeltaFormatError& e) {
    InvalidArgument(e.what());
  }
  const std::vector<uint8_t>& delta = deflater.Bytes();
  call.ReplyNow({TVariant(true), TVariant(file->Version), TVariant(static_cast<int32_t>(size)),
                 TVariant(age), TVariant(static_cast<int32_t>(delta.size())),
                 TVariant(hash.FinishHex()), TVariant(static_cast<int32_t>(packedSize))});
  ++SentCount;
  if (!delta.empty()) call.Write(delta.data(), delta.size());
  call.Flush();
  Served += static_cast<int64_t>(delta.size());
  message.Result = 1;
}

}  // namespace zor
