#include <gtest/gtest.h>

#include "support/expect_error.h"
#include "update/release_manifest.h"
#include "update/release_signature.h"

namespace zor {
namespace {

const std::string kHash(64, 'a');

TReleaseManifest SampleManifest() {
  TReleaseManifest manifest;
  manifest.Counter = 7;
  manifest.Created = 1765380000;
  manifest.Expires = 1767972000;
  manifest.Files = {{"Client", 10, kHash, "1.2.0.0", 0x5A2B3C4D},
                    {"bpls\\Main.bpl", 0, std::string(64, '0'), "0.0.0.0", -1}};
  return manifest;
}

TEST(ReleaseManifest, BodyRoundTripsAndFindsNamesWithoutCase) {
  TReleaseManifest manifest = SampleManifest();
  manifest.NextKey = EncodeBase64(GenerateKeyPair().Public);
  const TReleaseManifest read = ParseManifestBody(SerializeManifestBody(manifest));
  EXPECT_EQ(read.Counter, 7u);
  EXPECT_EQ(read.Created, 1765380000);
  EXPECT_EQ(read.Expires, 1767972000);
  EXPECT_EQ(read.NextKey, manifest.NextKey);
  EXPECT_EQ(read.Files, manifest.Files);
  ASSERT_NE(read.Find("BPLS/main.BPL"), nullptr);
  EXPECT_EQ(read.Find("\\bpls\\main.bpl")->Size, 0);
  EXPECT_EQ(read.Find("Main.bpl"), nullptr);
}

TEST(ReleaseManifest, MalformedBodiesAreRefusedWithTheReason) {
  const std::string files =
      R"("Files":[{"Name":"a","Size":1,"SHA256":")" + kHash + R"(","Version":"1","Age":2}])";
  struct Case {
    std::string Body;
    std::string Message;
  } const kCases[] = {
      {"[1]", "it is not a JSON object"},
      {"{\"Format\":1", "it is not a JSON object"},
      {R"({"Format":2,"Counter":1,"Created":1,"Expires":2,)" + files + "}",
       "its format is not known"},
      {R"({"Format":1,"Created":1,"Expires":2,)" + files + "}", "\"Counter\" is missing"},
      {R"({"Format":1,"Counter":-1,"Created":1,"Expires":2,)" + files + "}",
       "\"Counter\" is out of range"},
      {R"({"Format":1,"Counter":"1","Created":1,"Expires":2,)" + files + "}",
       "\"Counter\" is not an integer"},
      {R"({"Format":1,"Counter":1,"Created":1,"Expires":2,"Files":{}})", "\"Files\" is not a list"},
      {R"({"Format":1,"Counter":1,"Created":1,"Expires":2,"Files":[{"Name":"..\\x","Size":1,"SHA256":")" +
           kHash + R"(","Version":"1","Age":2}]})",
       "the file name '..\\x' is not a plain relative name"},
      {R"({"Format":1,"Counter":1,"Created":1,"Expires":2,"Files":[{"Name":"a","Size":1,"SHA256":"AB","Version":"1","Age":2}]})",
       "the hash of 'a' is not 64 hex digits"},
      {R"({"Format":1,"Counter":1,"Created":1,"Expires":2,"Files":[{"Name":"a","Size":4294967296,"SHA256":")" +
           kHash + R"(","Version":"1","Age":2}]})",
       "\"Size\" is out of range"},
      {R"({"Format":1,"Counter":1,"Created":1,"Expires":2,"Files":[{"Name":"a","Size":1,"SHA256":")" +
           kHash + R"(","Version":"1","Age":2},{"Name":"A","Size":1,"SHA256":")" + kHash +
           R"(","Version":"1","Age":2}]})",
       "'A' is listed twice"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Body);
    testing::ExpectError<EManifestError>([&] { ParseManifestBody(c.Body); }, "EManifestError",
                                         "The release manifest is not valid: " + c.Message);
  }
}

TEST(ReleaseSignature, VerifiesOnlyTheExactBodyUnderATrustedKey) {
  const TKeyPair publisher = GenerateKeyPair();
  const TKeyPair other = GenerateKeyPair();
  const std::string file =
      SignManifestBody(SerializeManifestBody(SampleManifest()), publisher.Secret);
  ASSERT_EQ(file.rfind(kSignatureLinePrefix, 0), 0u);

  const TPublicKey both[] = {other.Public, publisher.Public};
  const TVerifiedManifest opened = OpenSignedManifest(file, both);
  EXPECT_EQ(opened.SignedBy, publisher.Public);
  EXPECT_EQ(opened.Manifest.Counter, 7u);

  const TPublicKey onlyOther[] = {other.Public};
  testing::ExpectError<ESignatureError>([&] { OpenSignedManifest(file, onlyOther); },
                                        "ESignatureError",
                                        "The release manifest is not signed with a trusted key.");
  std::string tampered = file;
  tampered[tampered.find("\"Counter\": 7") + 11] = '9';
  const TPublicKey publisherOnly[] = {publisher.Public};
  testing::ExpectError<ESignatureError>([&] { OpenSignedManifest(tampered, publisherOnly); },
                                        "ESignatureError",
                                        "The release manifest is not signed with a trusted key.");
  testing::ExpectError<EManifestError>(
      [&] { OpenSignedManifest(file.substr(file.find('\n') + 1), publisherOnly); },
      "EManifestError", "The release manifest is not valid: it has no signature line");
  EXPECT_EQ(PublicKeyOf(publisher.Secret), publisher.Public);
}

TEST(ReleaseSignature, KeysAndHashesInText) {
  const TKeyPair pair = GenerateKeyPair();
  const std::string text = EncodeBase64(pair.Public);
  EXPECT_EQ(text.size(), 44u);
  EXPECT_EQ(DecodePublicKey("  " + text + "\n"), pair.Public);
  for (const std::string& bad :
       {std::string(), text.substr(1), text + "AAAA", std::string("!") + text.substr(1)}) {
    testing::ExpectError<ESignatureError>([&] { DecodePublicKey(bad); }, "ESignatureError",
                                          "The release key is not valid.");
  }
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(Sha256Hex(abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace zor
