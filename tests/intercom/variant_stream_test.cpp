// Byte-exact encodings of every type code, decoded once from the whole buffer and once one byte
// at a time, and every way a stream can be malformed.
#include "intercom/variant_stream.h"

#include <gtest/gtest.h>

#include <typeinfo>

#include "base/exceptions.h"

#include "intercom/charset_conversion.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "test_support.h"

namespace zor {
namespace {

using testing::Hex;
using testing::ToHex;
using testing::TTrickleSource;

constexpr const char* kMagic = "9E 46 58 ED 00 ";  // magic with charset byte (not traditional)
constexpr const char* kOne = "9E 46 58 ED 00 00 00 00 00 ";  // magic + high index 0

TVariant FixedArray(uint16_t type, std::vector<TArrayBound> bounds, const char* rawHex) {
  TVarArrayData data;
  data.ElementType = type;
  data.Bounds = std::move(bounds);
  data.Raw = Hex(rawHex);
  return TVariant::Array(std::move(data));
}

TVariant ItemArray(uint16_t type, TVariantArray items) {
  TVarArrayData data;
  data.ElementType = type;
  data.Bounds = {{static_cast<uint32_t>(items.size()), 0}};
  data.Items = std::move(items);
  return TVariant::Array(std::move(data));
}

TDecimal CountingDecimal() {
  TDecimal d;
  for (int i = 0; i < 16; ++i) d[i] = static_cast<uint8_t>(i);
  return d;
}

struct Case {
  const char* Name;
  TVariantArray Items;
  std::string Expected;
  bool ShortMagic = false;
};

std::vector<Case> EncodingCases() {
  const std::string one = kOne;
  return {
      {"empty", {TVariant()}, one + "73 D4 00 00"},
      {"null", {TVariant::Null()}, one + "73 D4 01 00"},
      {"smallint sign-extends",
       {TVariant::OfInteger(kVarSmallint, -2)},
       one + "73 D4 02 00 FE FF FF FF"},
      {"integer", {TVariant(0x12345678)}, one + "73 D4 03 00 78 56 34 12"},
      {"single", {TVariant::Single(1.5f)}, one + "73 D4 04 00 00 00 C0 3F"},
      {"double", {TVariant(2.5)}, one + "73 D4 05 00 00 00 00 00 00 00 04 40"},
      {"currency", {TVariant::Currency(12345)}, one + "73 D4 06 00 39 30 00 00 00 00 00 00"},
      {"date", {TVariant::Date(1.0)}, one + "73 D4 07 00 00 00 00 00 00 00 F0 3F"},
      {"wide string", {TVariant::Wide("Aé中")}, one + "73 D4 08 00 03 00 00 00 41 00 E9 00 2D 4E"},
      {"wide string surrogate pair",
       {TVariant::Wide("\xF0\x9F\x98\x80")},
       one + "73 D4 08 00 02 00 00 00 3D D8 00 DE"},
      {"wide string empty", {TVariant::Wide("")}, one + "73 D4 08 00 00 00 00 00"},
      {"string", {TVariant("abc")}, one + "73 D4 00 01 03 00 00 00 61 62 63"},
      {"error code", {TVariant::OfInteger(kVarError, 0x80004005)}, one + "73 D4 0A 00 05 40 00 80"},
      {"boolean true", {TVariant(true)}, one + "73 D4 0B 00 FF FF FF FF"},
      {"boolean false", {TVariant(false)}, one + "73 D4 0B 00 00 00 00 00"},
      {"decimal",
       {TVariant::Decimal(CountingDecimal())},
       one + "73 D4 0E 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"},
      {"shortint", {TVariant::OfInteger(kVarShortInt, -1)}, one + "73 D4 10 00 FF FF FF FF"},
      {"byte zero-extends", {TVariant::OfInteger(kVarByte, 200)}, one + "73 D4 11 00 C8 00 00 00"},
      {"word zero-extends",
       {TVariant::OfInteger(kVarWord, 0xFFFF)},
       one + "73 D4 12 00 FF FF 00 00"},
      {"longword",
       {TVariant::OfInteger(kVarLongWord, 0xFFFFFFFF)},
       one + "73 D4 13 00 FF FF FF FF"},
      {"short magic", {TVariant(1)}, "9D 46 58 ED 00 00 00 00 73 D4 03 00 01 00 00 00", true},
      {"three elements",
       {TVariant(true), TVariant("x"), TVariant(7)},
       std::string(kMagic) + "02 00 00 00 73 D4 0B 00 FF FF FF FF 73 D4 00 01 01 00 00 00 78 73 D4 "
                             "03 00 07 00 00 00"},
      {"byte array",
       {TVariant::Bytes({1, 2, 3})},
       one + "73 D4 11 20 01 00 03 00 00 00 00 00 00 00 01 02 03"},
      {"empty byte array",
       {TVariant::Bytes({})},
       one + "73 D4 11 20 01 00 00 00 00 00 00 00 00 00"},
      {"smallint array low 1",
       {FixedArray(kVarSmallint, {{2, 1}}, "FF FF 02 00")},
       one + "73 D4 02 20 01 00 02 00 00 00 01 00 00 00 FF FF 02 00"},
      {"integer array",
       {FixedArray(kVarInteger, {{1, 0}}, "78 56 34 12")},
       one + "73 D4 03 20 01 00 01 00 00 00 00 00 00 00 78 56 34 12"},
      {"single array",
       {FixedArray(kVarSingle, {{1, 0}}, "00 00 C0 3F")},
       one + "73 D4 04 20 01 00 01 00 00 00 00 00 00 00 00 00 C0 3F"},
      {"double array",
       {FixedArray(kVarDouble, {{1, 0}}, "00 00 00 00 00 00 04 40")},
       one + "73 D4 05 20 01 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 04 40"},
      {"currency array",
       {FixedArray(kVarCurrency, {{1, 0}}, "39 30 00 00 00 00 00 00")},
       one + "73 D4 06 20 01 00 01 00 00 00 00 00 00 00 39 30 00 00 00 00 00 00"},
      {"date array",
       {FixedArray(kVarDate, {{1, 0}}, "00 00 00 00 00 00 F0 3F")},
       one + "73 D4 07 20 01 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {"error array",
       {FixedArray(kVarError, {{1, 0}}, "05 40 00 80")},
       one + "73 D4 0A 20 01 00 01 00 00 00 00 00 00 00 05 40 00 80"},
      {"boolean array",
       {FixedArray(kVarBoolean, {{2, 0}}, "FF FF 00 00")},
       one + "73 D4 0B 20 01 00 02 00 00 00 00 00 00 00 FF FF 00 00"},
      {"decimal array",
       {FixedArray(kVarDecimal, {{1, 0}}, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F")},
       one + "73 D4 0E 20 01 00 01 00 00 00 00 00 00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D "
             "0E 0F"},
      {"shortint array",
       {FixedArray(kVarShortInt, {{2, 0}}, "FF 7F")},
       one + "73 D4 10 20 01 00 02 00 00 00 00 00 00 00 FF 7F"},
      {"word array",
       {FixedArray(kVarWord, {{1, 0}}, "34 12")},
       one + "73 D4 12 20 01 00 01 00 00 00 00 00 00 00 34 12"},
      {"longword array",
       {FixedArray(kVarLongWord, {{1, 0}}, "FF FF FF FF")},
       one + "73 D4 13 20 01 00 01 00 00 00 00 00 00 00 FF FF FF FF"},
      {"two-dimensional array",
       {FixedArray(kVarInteger, {{2, 0}, {1, 5}}, "01 00 00 00 02 00 00 00")},
       one + "73 D4 03 20 02 00 02 00 00 00 00 00 00 00 01 00 00 00 05 00 00 00 01 00 00 00 02 00 "
             "00 00"},
      {"wide string array",
       {ItemArray(kVarOleStr, {TVariant::Wide("a"), TVariant::Wide("")})},
       one + "73 D4 08 20 01 00 02 00 00 00 00 00 00 00 01 00 00 00 61 00 00 00 00 00"},
      {"string array",
       {ItemArray(kVarString, {TVariant("xy")})},
       one + "73 D4 00 21 01 00 01 00 00 00 00 00 00 00 02 00 00 00 78 79"},
      {"nested variant array",
       {TVariant::VariantArray(
           {TVariant(1), TVariant("a"), TVariant::VariantArray({TVariant(true)})})},
       one + "73 D4 0C 20 01 00 03 00 00 00 00 00 00 00 73 D4 03 00 01 00 00 00 73 D4 00 01 01 00 "
             "00 00 61 "
             "73 D4 0C 20 01 00 01 00 00 00 00 00 00 00 73 D4 0B 00 FF FF FF FF"},
  };
}

TEST(VariantStreamTest, EncodesEveryTypeByteForByteAndDecodesItWholeAndByteByByte) {
  for (const Case& c : EncodingCases()) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> expected = Hex(c.Expected);
    TStreamWriteOptions options;
    options.ShortMagic = c.ShortMagic;
    const std::vector<uint8_t> encoded = EncodeVariantStream(c.Items, options);
    EXPECT_EQ(ToHex(encoded), ToHex(expected));
    EXPECT_EQ(EstimateVariantStreamSize(c.Items, c.ShortMagic), expected.size());

    EXPECT_EQ(DecodeVariantStream(expected), c.Items);
    TTrickleSource trickle(expected);
    EXPECT_EQ(ReadVariantStream(trickle), c.Items);
  }
}

TEST(VariantStreamTest, ReadsNonCanonicalIntegersIntoTheirTypesRange) {
  // A Boolean of 1 is true; a smallint with high bits set keeps its low 16 bits.
  const TVariantArray items = DecodeVariantStream(
      Hex(std::string(kMagic) + "01 00 00 00 73 D4 0B 00 01 00 00 00 73 D4 02 00 70 11 01 00"));
  EXPECT_TRUE(items[0].AsBoolean());
  EXPECT_EQ(items[1].AsInt64(), 0x1170);
}

struct ErrorCase {
  const char* Name;
  std::string Input;
};

std::string NestedVariantArrays(int depth) {
  std::string s = kOne;
  for (int i = 0; i < depth; ++i) s += "73 D4 0C 20 01 00 01 00 00 00 00 00 00 00 ";
  return s + "73 D4 00 00";
}

TEST(VariantStreamTest, RefusesEveryMalformedStreamWithTheFormatError) {
  const std::string one = kOne;
  const ErrorCase kCases[] = {
      {"wrong magic", "9F 46 58 ED 00 00 00 00 00 73 D4 00 00"},
      {"truncated magic", "9E 46"},
      {"no charset byte", "9E 46 58 ED"},
      {"negative high index", std::string(kMagic) + "FF FF FF FF"},
      {"high index beyond the data", std::string(kMagic) + "FF FF FF 7F 73 D4 00 00"},
      {"missing element", one},
      {"bad element marker", one + "74 D4 00 00"},
      {"dispatch reference", one + "73 D4 09 00 00 00 00 00"},
      {"unknown reference", one + "73 D4 0D 00 00 00 00 00"},
      {"bare variant type", one + "73 D4 0C 00 00 00 00 00"},
      {"by-reference flag", one + "73 D4 03 40 01 00 00 00"},
      {"type 15", one + "73 D4 0F 00 00 00 00 00"},
      {"type 20", one + "73 D4 14 00 00 00 00 00 00 00 00 00"},
      {"array of dispatch", one + "73 D4 09 20 01 00 00 00 00 00 00 00 00 00"},
      {"array of unknown", one + "73 D4 0D 20 01 00 00 00 00 00 00 00 00 00"},
      {"array of empty", one + "73 D4 00 20 01 00 00 00 00 00 00 00 00 00"},
      {"array of arrays flag twice", one + "73 D4 11 30 01 00 00 00 00 00 00 00 00 00"},
      {"zero dimensions", one + "73 D4 11 20 00 00"},
      {"65 dimensions", one + "73 D4 11 20 41 00 00 00 00 00 00 00 00 00"},
      {"bounds cut short", one + "73 D4 11 20 02 00 01 00 00 00 00 00 00 00"},
      {"byte array longer than the data", one + "73 D4 11 20 01 00 E8 03 00 00 00 00 00 00 01 02"},
      {"element count overflows",
       one + "73 D4 11 20 02 00 FF FF FF FF 00 00 00 00 FF FF FF FF 00 00 00 00"},
      {"variant array count beyond the data",
       one + "73 D4 0C 20 01 00 FF FF FF 7F 00 00 00 00 73 D4 00 00"},
      {"string array count beyond the data",
       one + "73 D4 00 21 01 00 FF FF FF 7F 00 00 00 00 00 00 00 00"},
      {"variant inside variant array",
       one + "73 D4 0C 20 01 00 01 00 00 00 00 00 00 00 73 D4 0C 00"},
      {"negative string length", one + "73 D4 00 01 FF FF FF FF"},
      {"string longer than the data", one + "73 D4 00 01 10 00 00 00 61"},
      {"wide string longer than the data", one + "73 D4 08 00 02 00 00 00 61 00"},
      {"huge wide string", one + "73 D4 08 00 FF FF FF 7F 61 00"},
      {"truncated integer", one + "73 D4 03 00 01 00"},
      {"truncated double", one + "73 D4 05 00 00 00 00 00"},
      {"truncated decimal", one + "73 D4 0E 00 00 01 02"},
      {"trailing byte", one + "73 D4 00 00 00"},
      {"nesting deeper than 64", NestedVariantArrays(65)},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> input = Hex(c.Input);
    for (bool trickle : {false, true}) {
      try {
        if (trickle) {
          TTrickleSource source(input);
          ReadVariantStream(source);
        } else {
          DecodeVariantStream(input);
        }
        ADD_FAILURE() << "no error, trickle=" << trickle;
      } catch (const Exception& e) {
        EXPECT_EQ(typeid(e), typeid(Exception));
        EXPECT_STREQ(e.what(), "Error stream format!");
      }
    }
  }
}

TEST(VariantStreamTest, NestingOf64IsAccepted) {
  const std::vector<uint8_t> input = Hex(NestedVariantArrays(64));
  TVariantArray items = DecodeVariantStream(input);
  int depth = 0;
  const TVariant* v = &items[0];
  while (v->IsArray()) {
    ++depth;
    v = &v->ArrayData().Items[0];
  }
  EXPECT_EQ(depth, 64);
  EXPECT_EQ(EncodeVariantStream(items), input);
}

TEST(VariantStreamTest, AnEmptyArrayIsNeverWritten) {
  try {
    EncodeVariantStream({});
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "An empty variant array is never serialized");
  }
}

// Maps one character between the scripts, enough to see which way a text went.
class TFakeScriptConverter : public TScriptConverter {
 public:
  std::string ToTraditional(std::string_view utf8) override { return Replace(utf8, "国", "國"); }
  std::string ToSimplified(std::string_view utf8) override { return Replace(utf8, "國", "国"); }

 private:
  static std::string Replace(std::string_view text, std::string_view from, std::string_view to) {
    std::string out(text);
    for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size()))
      out.replace(at, from.size(), to);
    return out;
  }
};

class ScriptConversionTest : public ::testing::Test {
 protected:
  void SetUp() override { SetScriptConverter(&Converter); }
  void TearDown() override { SetScriptConverter(nullptr); }
  ScopedLcidOverride Simplified{kLcidChineseChina};
  TFakeScriptConverter Converter;
};

TEST_F(ScriptConversionTest, WriterConvertsToThePeersScriptAndMarksIt) {
  TStreamWriteOptions options;
  options.ConvertCharset = true;
  const std::vector<uint8_t> out =
      EncodeVariantStream({TVariant::Wide("国"), TVariant("国")}, options);
  // The 8-bit string goes out in the peer's code page (Big5).
  EXPECT_EQ(ToHex(out), ToHex(Hex("9E 46 58 ED 01 01 00 00 00 73 D4 08 00 01 00 00 00 0B 57 "
                                  "73 D4 00 01 02 00 00 00 B0 EA")));
}

TEST(VariantStreamCodePageTest, EightBitStringsTravelInTheSystemCodePage) {
  struct Case {
    uint32_t Lcid;
    const char* Text;
    const char* Expected;
  } const kCases[] = {
      {kLcidChineseChina, "国", "9E 46 58 ED 00 00 00 00 00 73 D4 00 01 02 00 00 00 B9 FA"},
      {kLcidChineseTaiwan, "國", "9E 46 58 ED 01 00 00 00 00 73 D4 00 01 02 00 00 00 B0 EA"},
      {kLcidEnglishUs, "é", "9E 46 58 ED 00 00 00 00 00 73 D4 00 01 01 00 00 00 E9"},
  };
  for (const Case& c : kCases) {
    ScopedLcidOverride lcid(c.Lcid);
    const std::vector<uint8_t> expected = Hex(c.Expected);
    EXPECT_EQ(ToHex(EncodeVariantStream({TVariant(c.Text)})), ToHex(expected)) << c.Lcid;
    EXPECT_EQ(DecodeVariantStream(expected)[0].Text(), c.Text) << c.Lcid;
  }
}

TEST_F(ScriptConversionTest, ReaderConvertsStreamsOfTheOtherScriptOnly) {
  // Charset byte 1 (traditional) on a simplified system: converted, also inside arrays.
  const TVariantArray converted =
      DecodeVariantStream(Hex("9E 46 58 ED 01 01 00 00 00 73 D4 08 00 01 00 00 00 0B 57 "
                              "73 D4 00 21 01 00 01 00 00 00 00 00 00 00 02 00 00 00 B0 EA"));
  EXPECT_EQ(converted[0].Text(), "国");
  EXPECT_EQ(converted[1].ArrayData().Items[0].Text(), "国");
  // Same script, or the short magic: untouched.
  EXPECT_EQ(DecodeVariantStream(Hex("9E 46 58 ED 00 00 00 00 00 73 D4 08 00 01 00 00 00 0B 57"))[0]
                .Text(),
            "國");
  EXPECT_EQ(
      DecodeVariantStream(Hex("9D 46 58 ED 00 00 00 00 73 D4 08 00 01 00 00 00 0B 57"))[0].Text(),
      "國");
  // Without tables nothing is converted.
  SetScriptConverter(nullptr);
  EXPECT_EQ(DecodeVariantStream(Hex("9E 46 58 ED 01 00 00 00 00 73 D4 08 00 01 00 00 00 0B 57"))[0]
                .Text(),
            "國");
}

}  // namespace
// The text of a string, or the texts of an array's strings joined by '|'.
std::string Texts(const TVariant& v) {
  if (!v.IsArray()) return v.Text();
  std::string joined;
  for (const TVariant& item : v.ArrayData().Items) joined += item.Text() + "|";
  return joined;
}

// The writer puts 8-bit strings in the code page the peer will read them in (once the peer's
// language is known), and a text that code page cannot hold goes as a wide string; the
// reader takes a stream without the charset byte in its writer's code page.
TEST(VariantStreamCodePageTest, EightBitStringsGoInTheCodePageThePeerReads) {
  struct Case {
    uint32_t Writer;
    uint32_t Peer;  // 0: a stream without the charset byte (a server's reply)
    TVariant Value;
    const char* Expected;
  } const kCases[] = {
      // A simplified client and an English server: their set is the same, the server reads 1252.
      {kLcidChineseChina, kLcidEnglishUs, TVariant("é"),
       "9E 46 58 ED 00 00 00 00 00 73 D4 00 01 01 00 00 00 E9"},
      // 1252 cannot hold it: a wide string instead of "??".
      {kLcidChineseChina, kLcidEnglishUs, TVariant("报表"),
       "9E 46 58 ED 00 00 00 00 00 73 D4 08 00 02 00 00 00 A5 62 68 88"},
      {kLcidEnglishUs, kLcidChineseChina, TVariant("报"),
       "9E 46 58 ED 00 00 00 00 00 73 D4 00 01 02 00 00 00 B1 A8"},
      // A traditional client's own set is not the English server's: the byte names the set,
      // whose code page (950) the server reads.
      {kLcidChineseTaiwan, kLcidEnglishUs, TVariant("報"),
       "9E 46 58 ED 01 00 00 00 00 73 D4 00 01 02 00 00 00 B3 F8"},
      // An array of 8-bit strings goes wide whole when one of them does not fit.
      {kLcidChineseChina, kLcidEnglishUs,
       TVariant::Array({kVarString, {{2, 0}}, {}, {TVariant("a"), TVariant("报")}}),
       "9E 46 58 ED 00 00 00 00 00 73 D4 08 20 01 00 02 00 00 00 00 00 00 00 "
       "01 00 00 00 61 00 01 00 00 00 A5 62"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Expected);
    TStringCharsets writer = StringCharsetsOf(c.Writer);
    writer.PeerCodePage = AnsiCodePageForLcid(c.Peer);
    TStreamWriteOptions options;
    options.Charsets = &writer;
    const std::vector<uint8_t> bytes = EncodeVariantStream({c.Value}, options);
    EXPECT_EQ(ToHex(bytes), ToHex(Hex(c.Expected)));
    TStringCharsets reader = StringCharsetsOf(c.Peer);
    TMemorySource source(bytes);
    EXPECT_EQ(Texts(ReadVariantStream(source, {}, &reader)[0]), Texts(c.Value));
  }
}

TEST(VariantStreamCodePageTest, AStreamWithoutTheCharsetByteIsInItsWritersCodePage) {
  // An English server's reply to a simplified client: 1252 bytes, read as 1252.
  TStringCharsets server = StringCharsetsOf(kLcidEnglishUs);
  TStreamWriteOptions options;
  options.ShortMagic = true;
  options.Charsets = &server;
  const std::vector<uint8_t> bytes =
      EncodeVariantStream({TVariant("café"), TVariant("报")}, options);
  EXPECT_EQ(ToHex(bytes), ToHex(Hex("9D 46 58 ED 01 00 00 00 73 D4 00 01 04 00 00 00 63 61 66 E9 "
                                    "73 D4 08 00 01 00 00 00 A5 62")));
  TStringCharsets client = StringCharsetsOf(kLcidChineseChina);
  client.PeerCodePage = server.CodePage;
  TMemorySource source(bytes);
  const TVariantArray read = ReadVariantStream(source, {}, &client);
  EXPECT_EQ(read[0].Text(), "café");
  EXPECT_EQ(read[1].Text(), "报");
}

}  // namespace zor
