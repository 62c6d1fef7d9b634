// The bytes of one payload block: in memory, or in an anonymous temporary file for payloads of
// 1 MiB and more (removed when the buffer is freed), so a large transfer does not double in
// memory. Written once from the start, then read back from any offset.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "intercom/byte_stream.h"
#include "platform/file_system.h"

namespace zor {

class TPayloadBuffer : public TByteSink {
 public:
  explicit TPayloadBuffer(bool spillToFile = false);
  ~TPayloadBuffer() override;
  TPayloadBuffer(const TPayloadBuffer&) = delete;
  TPayloadBuffer& operator=(const TPayloadBuffer&) = delete;

  void Write(const void* data, size_t size) override;
  uint64_t Size() const { return Length; }
  bool InFile() const { return File != nullptr; }
  // Copies up to `size` bytes from `offset`; returns the count.
  size_t ReadAt(uint64_t offset, void* data, size_t size) const;
  // Runs `transform` over the first min(`count`, size) bytes in place (scrambling).
  void TransformHead(size_t count, const std::function<void(uint8_t*, size_t)>& transform);
  // A source over the whole content (valid while the buffer lives and is not written).
  std::unique_ptr<TByteSource> Reader() const;
  // The content when in memory.
  const std::vector<uint8_t>& Memory() const { return Bytes; }

 private:
  std::vector<uint8_t> Bytes;
  std::unique_ptr<PositionedFile> File;
  uint64_t Length = 0;
};

}  // namespace zor
