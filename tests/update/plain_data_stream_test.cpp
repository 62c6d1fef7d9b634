#include "update/plain_data_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/exceptions.h"

namespace zor {
namespace {

std::string Content(size_t count) {
  std::string data(count, '\0');
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<char>((i * 131) ^ (i >> 5));
  return data;
}

std::string Send(const std::string& content) {
  std::string wire;
  size_t pos = 0;
  WritePlainStream(
      static_cast<uint32_t>(content.size()),
      [&](void* buffer, size_t count) {
        std::memcpy(buffer, content.data() + pos, count);
        pos += count;
      },
      [&](const void* data, size_t count) { wire.append(static_cast<const char*>(data), count); });
  return wire;
}

std::string Receive(const std::string& wire, uint32_t limit = 1 << 30) {
  size_t pos = 0;
  std::string out;
  ReadPlainStream(
      [&](void* buffer, size_t count) {
        if (pos + count > wire.size()) throw Exception("end of stream");
        std::memcpy(buffer, wire.data() + pos, count);
        pos += count;
      },
      limit,
      [&](const void* data, size_t count) { out.append(static_cast<const char*>(data), count); });
  EXPECT_EQ(pos, wire.size());
  return out;
}

TEST(PlainDataStream, PiecesFollowTheSendersRules) {
  struct Case {
    uint32_t Count;
    std::vector<uint32_t> Pieces;
  } const kCases[] = {
      {0, {}},
      {1024, {}},
      {1025, {1025}},
      {18432, {18432}},
      {18433, {16384, 2049}},
      {16384 * 3 + 18432, {16384, 16384, 16384, 18432}},
  };
  for (const Case& c : kCases) EXPECT_EQ(PlainPieces(c.Count), c.Pieces) << c.Count;
}

TEST(PlainDataStream, RoundTripsRawAndCompressed) {
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{1024}, size_t{1025}, size_t{18433}, size_t{100000}}) {
    const std::string content = Content(size);
    const std::string wire = Send(content);
    EXPECT_EQ(static_cast<uint8_t>(wire[4]), size > 1024 ? 1 : 0) << size;
    EXPECT_EQ(Receive(wire), content) << size;
  }
}

TEST(PlainDataStream, RefusesWhatTheSenderNeverProduces) {
  const std::string wire = Send(Content(5000));
  struct Case {
    std::string Wire;
    uint32_t Limit;
    const char* Message;
  } const kCases[] = {
      {wire, 4999, "The data stream of 5000 bytes exceeds the limit of 4999 bytes"},
      {wire.substr(0, 9) + std::string("\x00\x00\x00\x00", 4), 1 << 20,
       "Invalid block length 0 in the data stream"},
      {wire.substr(0, 9) + std::string("\x01\x50\x00\x00", 4), 1 << 20,
       "Invalid block length 20481 in the data stream"},
      {wire.substr(0, 9) + std::string("\x03\x00\x00\x00xyz", 7), 1 << 20,
       "Invalid compressed block in the data stream"},
      // Announces 100 bytes but the block inflates to 5000.
      {std::string("\xDC\xEA\x00\x00\x01\x64\x00\x00\x00", 9) + wire.substr(9), 1 << 20,
       "Invalid compressed block in the data stream"},
  };
  for (const Case& c : kCases) {
    try {
      Receive(c.Wire, c.Limit);
      ADD_FAILURE() << c.Message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, c.Message);
    }
  }
}

}  // namespace
}  // namespace zor
