// The byte sinks and sources that the variant stream, the compressor and the payload buffers
// are written against, so that one codec serves memory, temporary files and zlib streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zor {

class TByteSink {
 public:
  virtual ~TByteSink() = default;
  virtual void Write(const void* data, size_t size) = 0;
};

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // Reads up to `size` bytes; returns 0 only at the end of the data.
  virtual size_t Read(void* data, size_t size) = 0;
  // Bytes still to come when the source knows it (memory, files), else nothing (zlib streams).
  virtual std::optional<uint64_t> Remaining() const { return std::nullopt; }
};

// Appends to a byte vector.
class TMemorySink : public TByteSink {
 public:
  void Write(const void* data, size_t size) override;
  std::vector<uint8_t> Bytes;
};

// Reads a byte range that outlives the source.
class TMemorySource : public TByteSource {
 public:
  explicit TMemorySource(std::span<const uint8_t> bytes) : Bytes(bytes) {}
  size_t Read(void* data, size_t size) override;
  std::optional<uint64_t> Remaining() const override { return Bytes.size() - Position; }

 private:
  std::span<const uint8_t> Bytes;
  size_t Position = 0;
};

}  // namespace zor
