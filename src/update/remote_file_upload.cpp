// The upload half of a remote file: a local file sent in the plain form as the data of a
// command, held against writers while it is read.
#include "update/remote_file.h"

#include <memory>
#include <optional>

#include "base/format.h"
#include "intercom/execute_scope.h"
#include "platform/open_or_fail.h"
#include "update/plain_data_stream.h"

namespace zor {

namespace {

// What tells a file that was written to while it was read: its size and last-write time.
struct TFileStamp {
  int64_t Size = 0;
  int64_t ModifiedNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

std::optional<TFileStamp> StampOf(PositionedFile& file) {
  const std::optional<FileIdentity> identity = file.Identity();
  if (!identity) return std::nullopt;
  return TFileStamp{identity->Size, identity->ModifiedNs};
}

}  // namespace

int64_t TRemoteFile::SendData(PositionedFile& stream, int64_t position, int32_t count) {
  TIcIOHandler& handler = HandlerOf(Connection);
  if (count < 0) count = 0;
  const std::optional<TFileStamp> before = StampOf(stream);
  int64_t read = 0;
  int64_t written = 0;
  WritePlainStream(
      static_cast<uint32_t>(count),
      [&](void* buffer, size_t bytes) {
        auto* out = static_cast<uint8_t*>(buffer);
        for (size_t done = 0; done < bytes;) {
          const size_t n =
              stream.ReadAt(position + read + static_cast<int64_t>(done), out + done, bytes - done);
          if (n == 0)
            throw Exception(
                Format(kUploadEndedEarlyText, {read + static_cast<int64_t>(done), count}));
          done += n;
        }
        read += static_cast<int64_t>(bytes);
        // Checked once everything is read and before the last piece leaves: a file written
        // to meanwhile would arrive as a mix of two versions.
        if (read == count && (!before || StampOf(stream) != before))
          throw Exception(std::string(kUploadChangedText));
      },
      [&](const void* data, size_t bytes) {
        handler.Write(data, static_cast<int32_t>(bytes));
        written += static_cast<int64_t>(bytes);
        // The peer answers during the stream only to refuse it; the rest need not be sent.
        if (handler.PollReadable()) throw TPeerAnsweredEarly{};
      });
  handler.Flush(true);
  return written;
}

bool TRemoteFile::UploadFile(const std::string& localFile, std::string_view name,
                             std::string_view area, std::string_view note) {
  TVerbatimStrings verbatim;
  return Upload(localFile, cmdUploadFile,
                {TVariant::Wide(std::string(name)), TVariant(std::string(area)),
                 TVariant(std::string(note))});
}

bool TRemoteFile::Upload(const std::string& localFile, uint32_t command,
                         const TVariantArray& args) {
  try {
    if (Connection == nullptr) throw Exception(std::string(kNotConnectedText));
    TTransferSlot slot;
    const std::unique_ptr<PositionedFile> stream =
        OpenOrFail(localFile, OpenMode::ReadOnly, OpenOptions{.DenyWrite = true});
    const int64_t size = stream->Size();
    if (size > kMaxUploadBytes)
      throw Exception(Format(kUploadTooLargeForStreamText, {localFile, size, kMaxUploadBytes}));
    TExecuteScope scope(*Connection);
    // From the server's first answer until its second, the connection carries the file's
    // data; a failure in between leaves it out of step, and it is closed (before the execute
    // lock is let go).
    bool inStream = false;
    try {
      Connection->SendCommandData(command, args);
      Connection->WaitResultDiscard(true);
      inStream = true;
      bool complete = true;
      try {
        SendData(*stream, 0, static_cast<int32_t>(size));
      } catch (const TPeerAnsweredEarly&) {
        complete = false;
      }
      Connection->WaitResultDiscard(true);  // a refusal raises the server's error here
      if (!complete) throw Exception(std::string(kUploadAnsweredEarlyText));
      inStream = false;
    } catch (...) {
      if (inStream && Connection->Handler()) Connection->Handler()->Close();
      throw;
    }
    return true;
  } catch (const EAbort&) {
    throw;  // a thread asked to stop ends without a message
  } catch (const std::exception& e) {
    throw Exception(Format(kUploadErrorText, {e.what()}));
  }
}

}  // namespace zor
