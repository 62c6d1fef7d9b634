// A seekable byte stream, the unit a handler writes and reads as one length-prefixed block.
// `TMemoryStream` keeps its bytes in memory and is written straight from them.
#pragma once

#include <cstdint>
#include <vector>

namespace zor {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  virtual void Seek(int64_t position) = 0;
  // Reads up to `count` bytes at the position; returns how many were read.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Writes `count` bytes at the position, growing the stream when needed.
  virtual void Write(const void* buffer, int32_t count) = 0;
  // The whole content when it lives in one piece of memory, else nullptr.
  virtual const uint8_t* Memory() const { return nullptr; }
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : Data(std::move(data)) {}

  int64_t Size() const override { return static_cast<int64_t>(Data.size()); }
  int64_t Position() const override { return Pos; }
  void Seek(int64_t position) override;
  int32_t Read(void* buffer, int32_t count) override;
  void Write(const void* buffer, int32_t count) override;
  const uint8_t* Memory() const override { return Data.data(); }
  void Clear() {
    Data.clear();
    Pos = 0;
  }

  std::vector<uint8_t> Data;

 private:
  int64_t Pos = 0;
};

}  // namespace zor
