// SHA-256 against the published test vectors, fed whole and in uneven pieces.
#include "update/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace zor {
namespace {

TEST(Sha256, MatchesThePublishedVectorsWhateverThePieces) {
  struct Case {
    std::string Input;
    const char* Digest;
  } const kCases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Input.substr(0, 20));
    TSha256 whole;
    whole.Update(c.Input.data(), c.Input.size());
    EXPECT_EQ(whole.FinishHex(), c.Digest);
    TSha256 pieces;
    for (size_t at = 0, step = 1; at < c.Input.size(); at += step, step = step * 3 + 1)
      pieces.Update(c.Input.data() + at, std::min(step, c.Input.size() - at));
    EXPECT_EQ(pieces.FinishHex(), c.Digest);
  }
}

}  // namespace
}  // namespace zor
