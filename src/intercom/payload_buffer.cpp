#include "intercom/payload_buffer.h"

#include <algorithm>
#include <cstring>

#include "base/exceptions.h"
#include "platform/directories.h"

namespace zor {
namespace {

class TPayloadReader : public TByteSource {
 public:
  explicit TPayloadReader(const TPayloadBuffer& buffer) : Buffer(buffer) {}
  size_t Read(void* data, size_t size) override {
    const size_t n = Buffer.ReadAt(Position, data, size);
    Position += n;
    return n;
  }
  std::optional<uint64_t> Remaining() const override { return Buffer.Size() - Position; }

 private:
  const TPayloadBuffer& Buffer;
  uint64_t Position = 0;
};

}  // namespace

TPayloadBuffer::TPayloadBuffer(bool spillToFile) {
  if (spillToFile) {
    try {
      File = CurrentFileSystem().OpenTemporary(GetTempDir());
    } catch (const EFileSystemError&) {
      throw Exception("Unable to create a temporary file for the payload!");
    }
  }
}

TPayloadBuffer::~TPayloadBuffer() = default;

void TPayloadBuffer::Write(const void* data, size_t size) {
  if (size == 0) return;
  if (File) {
    try {
      File->WriteAllAt(static_cast<int64_t>(Length), data, size);
    } catch (const EFileSystemError&) {
      throw Exception("Unable to write the payload's temporary file!");
    }
  } else {
    const auto* p = static_cast<const uint8_t*>(data);
    Bytes.insert(Bytes.end(), p, p + size);
  }
  Length += size;
}

size_t TPayloadBuffer::ReadAt(uint64_t offset, void* data, size_t size) const {
  if (offset >= Length) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, Length - offset));
  if (File) {
    try {
      File->ReadExactAt(static_cast<int64_t>(offset), data, n);
    } catch (const EFileSystemError&) {
      throw Exception("Unable to read the payload's temporary file!");
    }
  } else {
    std::memcpy(data, Bytes.data() + offset, n);
  }
  return n;
}

void TPayloadBuffer::TransformHead(size_t count,
                                   const std::function<void(uint8_t*, size_t)>& transform) {
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, Length));
  if (n == 0) return;
  if (!File) return transform(Bytes.data(), n);
  std::vector<uint8_t> head(n);
  ReadAt(0, head.data(), n);
  transform(head.data(), n);
  try {
    File->WriteAllAt(0, head.data(), n);
  } catch (const EFileSystemError&) {
    throw Exception("Unable to write the payload's temporary file!");
  }
}

std::unique_ptr<TByteSource> TPayloadBuffer::Reader() const {
  return std::make_unique<TPayloadReader>(*this);
}

}  // namespace zor
