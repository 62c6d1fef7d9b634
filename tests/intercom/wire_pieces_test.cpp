// The fixed headers, the scrambling routines and the payload codec (compression threshold,
// spilling, damaged compressed data).
#include <gtest/gtest.h>
#include <zlib.h>

#include <typeinfo>

#include "base/exceptions.h"
#include "intercom/message_headers.h"
#include "intercom/payload_codec.h"
#include "intercom/scrambling.h"
#include "intercom/zlib_streams.h"
#include "test_support.h"

namespace zor {
namespace {

using testing::Hex;
using testing::ToHex;

std::string Slice(const THeaderBytes& b, size_t from, size_t count) {
  return ToHex(std::vector<uint8_t>(b.begin() + from, b.begin() + from + count));
}

TEST(MessageHeadersTest, RequestHeaderLayout) {
  RequestHeader h;
  h.Command = 0xA20D;
  h.PayloadSize = 0x01020304;
  h.ContextId = 0x0A0B0C0D;
  h.Compressed = 1;
  h.Options = 1;
  h.Sequence = 0x11223344;
  const THeaderBytes a = h.Encode();
  EXPECT_EQ(
      Slice(a, 4, 28),
      "3C 75 5D E9 0D A2 00 00 04 03 02 01 0D 0C 0B 0A 01 01 00 00 44 33 22 11 " + Slice(a, 28, 4));
  const RequestHeader back = RequestHeader::Decode(a);
  EXPECT_EQ(back.Magic, kRequestMagic);
  EXPECT_EQ(back.Command, 0xA20Du);
  EXPECT_EQ(back.PayloadSize, 0x01020304u);
  EXPECT_EQ(back.ContextId, 0x0A0B0C0Du);
  EXPECT_EQ(back.Compressed, 1);
  EXPECT_EQ(back.Options, 1);
  EXPECT_EQ(back.Sequence, 0x11223344u);
  // Fresh noise for every header.
  const THeaderBytes b = h.Encode();
  EXPECT_NE(Slice(a, 0, 4) + Slice(a, 28, 4), Slice(b, 0, 4) + Slice(b, 28, 4));
}

TEST(MessageHeadersTest, ReplyHeaderHasItsKindUnalignedAtOffset13) {
  ReplyHeader h{0x74000011, 0x00000820, 1, kReplyMessage};
  const THeaderBytes a = h.Encode();
  EXPECT_EQ(Slice(a, 4, 24),
            "11 00 00 74 20 08 00 00 01 3D 75 5D E9 00 00 00 00 00 00 00 00 00 00 00");
  const ReplyHeader back = ReplyHeader::Decode(a);
  EXPECT_EQ(back.ResultCode, 0x74000011u);
  EXPECT_EQ(back.PayloadSize, 0x820u);
  EXPECT_EQ(back.Compressed, 1);
  EXPECT_EQ(back.Kind, kReplyMessage);
  EXPECT_EQ(Slice(ReplyHeader::KeepAlive().Encode(), 4, 24),
            "00 00 00 00 00 00 00 00 00 33 FF 22 00 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(ScramblingTest, DecryptUndoesEncryptForEveryLengthAndKey) {
  for (uint32_t key : {0u, 1u, kDefaultScrambleKey, 0x9E3779B9u, 0xFFFFFFFFu}) {
    for (size_t length : {0u, 1u, 3u, 4u, 5u, 32u, 2048u}) {
      std::vector<uint8_t> plain(length);
      for (size_t i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 7);
      std::vector<uint8_t> buffer = plain;
      DefaultEncrypt(buffer.data(), buffer.size(), key);
      if (length >= 4) {
        EXPECT_NE(buffer, plain) << key << "/" << length;
      }
      DefaultDecrypt(buffer.data(), buffer.size(), key);
      EXPECT_EQ(buffer, plain) << key << "/" << length;
    }
  }
}

TEST(ScramblingTest, TheKeyMatters) {
  std::vector<uint8_t> a(32, 0), b(32, 0);
  DefaultEncrypt(a.data(), a.size(), kDefaultScrambleKey);
  DefaultEncrypt(b.data(), b.size(), kDefaultScrambleKey ^ 0x100);
  EXPECT_NE(a, b);
  DefaultDecrypt(a.data(), a.size(), kDefaultScrambleKey ^ 0x100);
  EXPECT_NE(a, std::vector<uint8_t>(32, 0));
}

TEST(ScramblingTest, EnhancedKeySetsEightDrawnBitsIntoTheOldKey) {
  struct Case {
    std::vector<uint32_t> Draws;
    uint32_t Key;
    uint32_t Expected;
  } const kCases[] = {
      {{0, 1, 2, 3, 4, 5, 6, 7}, 0x00000000, 0x000000FF},
      {{31, 31, 31, 31, 31, 31, 31, 31}, 0x80000001, 0x00000001},  // repeats set one bit
      {{32, 33, 63, 64, 4, 4, 4, 4}, 0xFFFFFFFF, 0x7FFFFFEC},      // indices taken mod 32
  };
  for (const Case& c : kCases) {
    size_t next = 0;
    EXPECT_EQ(DeriveEnhancedKey(c.Key, [&] { return c.Draws[next++]; }), c.Expected);
    EXPECT_EQ(next, 8u);
  }
}

// One 8-bit string element whose stream is exactly `size` bytes long (9 + 4 + 4 + text).
TVariantArray PayloadOfSize(size_t size) {
  return {TVariant(std::string(size - 17, 'a'))};
}

TEST(PayloadCodecTest, CompressesFrom2048EstimatedBytesWhenAllowed) {
  struct Case {
    size_t Size;
    bool Allow;
    bool Compressed;
  } const kCases[] = {
      {2047, true, false}, {2048, true, true}, {2048, false, false}, {100000, true, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Size);
    const TVariantArray items = PayloadOfSize(c.Size);
    ASSERT_EQ(EstimateVariantStreamSize(items, false), c.Size);
    const TEncodedPayload p = EncodePayload(items, c.Allow, {});
    EXPECT_EQ(p.Compressed, c.Compressed);
    if (c.Compressed) {
      EXPECT_LT(p.Data->Size(), c.Size / 4);
    } else {
      EXPECT_EQ(p.Data->Size(), c.Size);
    }
    EXPECT_EQ(DecodePayload(*p.Data, p.Compressed), items);
  }
}

TEST(PayloadCodecTest, PayloadsAbove1MiBLiveInATemporaryFile) {
  for (size_t size : {kSpillThreshold, kSpillThreshold + 1}) {
    for (bool compress : {false, true}) {
      const TVariantArray items = {TVariant::Bytes(std::vector<uint8_t>(size - 23, 0x5A))};
      ASSERT_EQ(EstimateVariantStreamSize(items, false), size);
      const TEncodedPayload p = EncodePayload(items, compress, {});
      EXPECT_EQ(p.Data->InFile(), size > kSpillThreshold);
      EXPECT_EQ(DecodePayload(*p.Data, p.Compressed), items);
    }
  }
}

void ExpectDecompressError(const std::vector<uint8_t>& bytes) {
  TPayloadBuffer buffer;
  buffer.Write(bytes.data(), bytes.size());
  try {
    DecodePayload(buffer, true);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(typeid(e), typeid(Exception));
    EXPECT_STREQ(e.what(), "Unabel to decompress the compressed data!");
  }
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& plain) {
  uLongf size = compressBound(plain.size());
  std::vector<uint8_t> out(size);
  compress(out.data(), &size, plain.data(), plain.size());
  out.resize(size);
  return out;
}

TEST(PayloadCodecTest, DamagedCompressedPayloadsRaiseTheDecompressionError) {
  const std::vector<uint8_t> good = Compress(EncodeVariantStream(PayloadOfSize(5000)));
  std::vector<uint8_t> corrupt = good;
  corrupt[good.size() / 2] ^= 0xFF;
  corrupt[good.size() - 2] ^= 0xFF;  // the checksum too, so corruption cannot pass unnoticed
  ExpectDecompressError(corrupt);
  ExpectDecompressError(std::vector<uint8_t>(good.begin(), good.end() - 5));  // truncated
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0);
  ExpectDecompressError(trailing);
  ExpectDecompressError(Hex("01 02 03 04"));  // not zlib at all
}

TEST(PayloadCodecTest, InflatingStopsAtItsLimit) {
  const std::vector<uint8_t> bomb = Compress(std::vector<uint8_t>(1 << 20, 0));
  TMemorySource source(bomb);
  TInflateSource inflater(source, 1000);
  std::vector<uint8_t> out(1 << 20);
  size_t total = 0;
  try {
    for (size_t n; (n = inflater.Read(out.data() + total, out.size() - total)) > 0;) total += n;
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Unabel to decompress the compressed data!");
  }
  EXPECT_LE(total, 1001u);
}

TEST(PayloadCodecTest, ACompressedStreamThatDoesNotParseRaisesTheFormatError) {
  TPayloadBuffer buffer;
  const std::vector<uint8_t> bytes = Compress(Hex("9F 46 58 ED 00 00 00 00 00 73 D4 00 00"));
  buffer.Write(bytes.data(), bytes.size());
  try {
    DecodePayload(buffer, true);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Error stream format!");
  }
}

}  // namespace
}  // namespace zor
