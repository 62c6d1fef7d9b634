// The delta codec in memory: old/new pairs of every shape come out byte-exact through
// signature, delta, compressed wire stream and patch; hostile signatures are refused before
// librsync reads them, and damaged or lying deltas are refused with their reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/expect_error.h"
#include "update/delta_codec.h"
#include "update/delta_wire.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::SampleBytes;

TDeltaRead ReaderOf(const Bytes& bytes) {
  auto offset = std::make_shared<size_t>(0);
  return [&bytes, offset](uint8_t* buffer, size_t size) {
    const size_t n = std::min(size, bytes.size() - *offset);
    if (n != 0) std::memcpy(buffer, bytes.data() + *offset, n);  // an empty file has no data()
    *offset += n;
    return n;
  };
}

TDeltaReadAt ReadAtOf(const Bytes& bytes) {
  return [&bytes](int64_t offset, uint8_t* buffer, size_t size) -> size_t {
    if (offset >= static_cast<int64_t>(bytes.size())) return 0;
    const size_t n = std::min(size, bytes.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, bytes.data() + offset, n);
    return n;
  };
}

Bytes Signature(const Bytes& old) {
  return MakeDeltaSignature(static_cast<int64_t>(old.size()), ReaderOf(old));
}

// The compressed delta of `fresh` against `old`, as the server sends it.
Bytes WireDelta(const Bytes& old, const Bytes& fresh) {
  const Bytes signature = Signature(old);
  TDeltaDeflater deflater(kDeltaMaxWireBytes);
  MakeDelta(signature, ReaderOf(fresh),
            [&](const uint8_t* data, size_t size) { EXPECT_TRUE(deflater.Add(data, size)); });
  EXPECT_TRUE(deflater.Finish());
  return deflater.Bytes();
}

Bytes Patch(const Bytes& old, const Bytes& wire, int64_t newSize) {
  Bytes out;
  ApplyDeltaStream(
      ReaderOf(wire), static_cast<int64_t>(wire.size()), ReadAtOf(old),
      static_cast<int64_t>(old.size()), newSize,
      [&](const uint8_t* data, size_t size) { out.insert(out.end(), data, data + size); });
  return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes EditedInTheMiddle(Bytes bytes) {
  for (size_t i = 0; i < 40; ++i) bytes[bytes.size() / 2 + i] ^= 0x5A;
  return bytes;
}

TEST(DeltaCodec, EveryShapeOfChangeIsPatchedByteExactAndSmallChangesMakeSmallDeltas) {
  const Bytes base = SampleBytes(300000, 1);
  const Bytes other = SampleBytes(300000, 2);
  struct Case {
    const char* Name;
    Bytes Old, New;
    bool Small;  // the wire delta is under a tenth of the new file
  } const kCases[] = {
      {"identical", base, base, true},
      {"appended", base, Concat(base, SampleBytes(5000, 3)), true},
      {"prepended", base, Concat(SampleBytes(3000, 4), base), true},
      {"edited in the middle", base, EditedInTheMiddle(base), true},
      {"shrunk", base, Bytes(base.begin(), base.begin() + 120000), true},
      {"grown", base,
       Concat(Concat(Bytes(base.begin(), base.begin() + 150000), SampleBytes(9000, 5)),
              Bytes(base.begin() + 150000, base.end())),
       true},
      {"unrelated", base, other, false},
      {"old empty", {}, base, false},
      {"new empty", base, {}, true},
      {"both empty", {}, {}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    const Bytes wire = WireDelta(c.Old, c.New);
    EXPECT_EQ(Patch(c.Old, wire, static_cast<int64_t>(c.New.size())), c.New);
    if (c.Small) {
      EXPECT_LT(wire.size(), c.New.size() / 10 + 64);
    }
  }
}

TEST(DeltaCodec, SignaturesFromOutsideAreCheckedBeforeTheyAreRead) {
  const Bytes good = Signature(SampleBytes(100000, 1));
  const TDeltaSignatureShape shape = CheckDeltaSignature(good);
  EXPECT_EQ(shape.Blocks * (4 + shape.StrongBytes) + kDeltaSignatureHeaderBytes, good.size());

  auto with = [&](size_t offset, uint32_t value) {
    Bytes bytes = good;
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return bytes;
  };
  struct Case {
    const char* Name;
    Bytes Signature;
    const char* Why;
  } const kCases[] = {
      {"shorter than a header", Bytes(good.begin(), good.begin() + 11), "shorter than its header"},
      {"MD4 hashes", with(0, 0x72730136), "not a BLAKE2 signature"},
      {"a delta's magic", with(0, 0x72730236), "not a BLAKE2 signature"},
      {"blocks too small", with(4, 64), "block length out of range"},
      {"blocks too large", with(4, (1u << 20) + 1), "block length out of range"},
      {"hash too short", with(8, 4), "strong hash length out of range"},
      {"hash too long", with(8, 33), "strong hash length out of range"},
      {"a broken last block", Bytes(good.begin(), good.end() - 1), "not a whole number of blocks"},
      {"too large", Concat(good, Bytes(kDeltaMaxSignatureBytes, 0)), "too large"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    testing::ExpectError<EDeltaFormatError>(
        [&] { CheckDeltaSignature(c.Signature); },
        std::string("The delta signature is invalid: ") + c.Why);
    EXPECT_THROW(MakeDelta(c.Signature, ReaderOf(good), [](const uint8_t*, size_t) {}),
                 EDeltaFormatError);
  }
}

TEST(DeltaCodec, DamagedOrLyingDeltasAreRefusedWithTheirReason) {
  const Bytes old = SampleBytes(200000, 7);
  const Bytes fresh = EditedInTheMiddle(old);
  const Bytes wire = WireDelta(old, fresh);
  const int64_t size = static_cast<int64_t>(fresh.size());
  Bytes trailing = wire;
  trailing.push_back(0);
  struct Case {
    const char* Name;
    Bytes Old;
    Bytes Wire;
    int64_t NewSize;
    const char* Why;
  } const kCases[] = {
      {"fewer bytes announced", old, wire, size - 1, "more bytes than announced"},
      {"more bytes announced", old, wire, size + 1, "fewer bytes than announced"},
      {"cut short", old, Bytes(wire.begin(), wire.end() - 10), size, "the stream ended early"},
      {"bytes after the stream", old, trailing, size, "bytes after its end"},
      {"not a zlib stream", old, Bytes(100, 0x41), size, "a damaged stream"},
      // The old copy shrank since the signature: the delta copies from past its end.
      {"copies from outside the old copy", Bytes(old.begin(), old.begin() + 1000), wire, size,
       "stream corrupt"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    testing::ExpectError<EDeltaFormatError>([&] { Patch(c.Old, c.Wire, c.NewSize); },
                                            std::string("The delta is invalid: ") + c.Why);
  }
}

TEST(DeltaCodec, TheDeflaterStopsAtItsLimit) {
  const Bytes data = SampleBytes(100000, 9);
  TDeltaDeflater small(100);
  EXPECT_FALSE(small.Add(data.data(), data.size()) && small.Finish());
  EXPECT_LE(small.Bytes().size(), 100u);
}

}  // namespace
}  // namespace zor
