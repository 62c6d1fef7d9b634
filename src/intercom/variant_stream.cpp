#include "intercom/variant_stream.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/utf.h"
#include "intercom/charset_conversion.h"
#include "intercom/local_charset.h"
#include "platform/code_page.h"

namespace zor {

void RaiseStreamFormatError() {
  throw Exception(std::string(kStreamFormatErrorText));
}

namespace {

bool IsItemArrayType(uint16_t elementType) {
  return elementType == kVarVariant || elementType == kVarOleStr || elementType == kVarString;
}

// UTF-16 units of a UTF-8 text, counted from its lead bytes (four-byte sequences need two).
uint64_t Utf16Units(const std::string& utf8) {
  uint64_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;
  }
  return units;
}

uint64_t ValueSize(const TVariant& v);

uint64_t ElementSize(const TVariant& v) {
  return 4 + ValueSize(v);
}

uint64_t ArraySize(const TVarArrayData& a) {
  uint64_t size = 2 + 8 * uint64_t{a.Bounds.size()} + a.Raw.size();
  for (const TVariant& item : a.Items)
    size += a.ElementType == kVarVariant ? ElementSize(item) : ValueSize(item);
  return size;
}

uint64_t ValueSize(const TVariant& v) {
  if (v.IsArray()) return ArraySize(v.ArrayData());
  switch (v.Type()) {
    case kVarEmpty:
    case kVarNull:
      return 0;
    case kVarDouble:
    case kVarCurrency:
    case kVarDate:
      return 8;
    case kVarOleStr:
      return 4 + 2 * Utf16Units(v.Text());
    case kVarString:
      return 4 + v.Text().size();
    case kVarDecimal:
      return 16;
    default:
      return 4;
  }
}

// Writes through a small staging buffer so that the sink sees few, large writes.
class TStreamWriter {
 public:
  // `convert`: strings are converted to `toTraditional`'s script; 8-bit ones are written in
  // `codePage`.
  TStreamWriter(TByteSink& sink, bool convert, bool toTraditional, uint32_t codePage)
      : Sink(sink), Convert(convert), ToTraditional(toTraditional), CodePage(codePage) {}
  ~TStreamWriter() = default;

  void Put(const void* data, size_t size) {
    if (Fill + size > sizeof Buffer) {
      Flush();
      if (size >= sizeof Buffer) {
        Sink.Write(data, size);
        return;
      }
    }
    std::memcpy(Buffer + Fill, data, size);
    Fill += size;
  }
  void U8(uint8_t v) { Put(&v, 1); }
  void U16(uint16_t v) {
    uint8_t b[2];
    StoreLE16(b, v);
    Put(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    Put(b, 4);
  }
  void U64(uint64_t v) {
    uint8_t b[8];
    StoreLE64(b, v);
    Put(b, 8);
  }
  void Flush() {
    if (Fill > 0) Sink.Write(Buffer, Fill);
    Fill = 0;
  }

  void Element(const TVariant& v) {
    U16(kElementMarker);
    if (v.Type() == kVarString) {
      // Written as a wide string when the peer's code page cannot hold it.
      std::optional<std::string> ansi = Utf8ToWireAnsiExact(Prepare(v.Text()), CodePage);
      if (!ansi) {
        U16(kVarOleStr);
        return WideText(v.Text());
      }
      U16(kVarString);
      return AnsiBytes(*ansi);
    }
    if (v.IsArray() && v.ArrayData().ElementType == kVarString && !AnsiHoldsAll(v.ArrayData())) {
      U16(static_cast<uint16_t>(kVarArray | kVarOleStr));
      WideArray = true;
      Value(v);
      WideArray = false;
      return;
    }
    U16(v.Type());
    Value(v);
  }

  void Value(const TVariant& v) {
    if (v.IsArray()) return Array(v.ArrayData());
    switch (v.Type()) {
      case kVarEmpty:
      case kVarNull:
        return;
      case kVarSmallint:
      case kVarInteger:
      case kVarError:
      case kVarShortInt:
      case kVarByte:
      case kVarWord:
      case kVarLongWord:
        return U32(static_cast<uint32_t>(v.AsInt64()));
      case kVarBoolean:
        return U32(v.AsBoolean() ? 0xFFFFFFFFu : 0u);
      case kVarSingle: {
        const float f = v.AsSingle();
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return U32(bits);
      }
      case kVarDouble:
      case kVarDate: {
        const double d = v.AsDouble();
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        return U64(bits);
      }
      case kVarCurrency:
        return U64(static_cast<uint64_t>(v.AsCurrency()));
      case kVarDecimal:
        return Put(v.AsDecimal().data(), 16);
      case kVarOleStr:
        return WideText(v.Text());
      case kVarString:
        return WideArray ? WideText(v.Text()) : AnsiText(v.Text());
      default:
        RaiseStreamFormatError();  // interface references and unknown types
    }
  }

  void Array(const TVarArrayData& a) {
    U16(static_cast<uint16_t>(a.Bounds.size()));
    for (const TArrayBound& b : a.Bounds) {
      U32(b.Count);
      U32(static_cast<uint32_t>(b.Low));
    }
    if (!a.Raw.empty()) Put(a.Raw.data(), a.Raw.size());
    for (const TVariant& item : a.Items) {
      if (a.ElementType == kVarVariant)
        Element(item);
      else
        Value(item);
    }
  }

 private:
  std::string Prepare(const std::string& utf8) {
    return Convert ? ConvertScript(utf8, ToTraditional) : utf8;
  }
  bool AnsiHoldsAll(const TVarArrayData& a) {
    for (const TVariant& item : a.Items)
      if (!Utf8ToWireAnsiExact(Prepare(item.Text()), CodePage)) return false;
    return true;
  }
  void AnsiBytes(const std::string& ansi) {
    U32(static_cast<uint32_t>(ansi.size()));
    Put(ansi.data(), ansi.size());
  }
  void WideText(const std::string& utf8) {
    const std::u16string units = Utf8ToUtf16(Prepare(utf8));
    U32(static_cast<uint32_t>(units.size()));
    for (char16_t c : units) U16(c);
  }
  void AnsiText(const std::string& utf8) {
    const std::string ansi = Utf8ToWireAnsi(Prepare(utf8), CodePage);
    U32(static_cast<uint32_t>(ansi.size()));
    Put(ansi.data(), ansi.size());
  }

  TByteSink& Sink;
  bool Convert;
  bool ToTraditional;
  uint32_t CodePage;
  bool WideArray = false;  // the string array being written went over to wide strings
  uint8_t Buffer[8192];
  size_t Fill = 0;
};

// Reads through a small buffer; every length is checked against what can still follow.
class TStreamReader {
 public:
  TStreamReader(TByteSource& source, const TDecodeBudget& budget)
      : Source(source), Budget(budget) {}

  void Get(void* out, size_t size) {
    auto* p = static_cast<uint8_t*>(out);
    while (size > 0) {
      if (Pos == End && !Refill(size)) {
        // Large reads go straight to the source.
        const size_t n = Source.Read(p, size);
        if (n == 0) RaiseStreamFormatError();
        Pulled += n;
        if (Pulled > Budget.MaxBytes) RaiseOverBudget();
        Charge(n, 0);
        p += n;
        size -= n;
        continue;
      }
      const size_t n = std::min(size, End - Pos);
      std::memcpy(p, Buffer + Pos, n);
      Pos += n;
      p += n;
      size -= n;
    }
  }
  uint16_t U16() {
    uint8_t b[2];
    Get(b, 2);
    return LoadLE16(b);
  }
  uint32_t U32() {
    uint8_t b[4];
    Get(b, 4);
    return LoadLE32(b);
  }
  uint64_t U64() {
    uint8_t b[8];
    Get(b, 8);
    return LoadLE64(b);
  }

  // Raises the format error unless `bytes` more bytes can still follow.
  void CheckFits(uint64_t bytes) {
    if (bytes > kMaxInflatedBytes) RaiseStreamFormatError();
    if (bytes > Budget.MaxBytes - Consumed()) RaiseOverBudget();
    if (const auto remaining = Source.Remaining(); remaining && bytes > *remaining + (End - Pos))
      RaiseStreamFormatError();
  }

  // Reads `size` bytes; the buffer grows with the data actually read when the source cannot
  // tell its length in advance, so a lying length never allocates more than arrives.
  std::vector<uint8_t> Bytes(uint64_t size) {
    CheckFits(size);
    constexpr size_t kStep = 64 * 1024;
    std::vector<uint8_t> out;
    if (Source.Remaining()) {
      out.resize(size);
      Get(out.data(), out.size());
      return out;
    }
    while (out.size() < size) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kStep, size - out.size()));
      const size_t at = out.size();
      out.resize(at + n);
      Get(out.data() + at, n);
    }
    return out;
  }

  bool AtEnd() { return Pos == End && !Refill(1); }

  // The stream's set (empty: no charset byte) decides the code page of its 8-bit strings;
  // strings of the other Chinese set are converted to ours when the tables are loaded.
  void SetStreamSet(std::optional<bool> streamTraditional, const TStringCharsets& own) {
    CodePage = ReadCodePage(own, streamTraditional);
    ToTraditional = own.Traditional;
    Convert = streamTraditional && *streamTraditional != own.Traditional && ScriptTablesLoaded();
  }

  // Raises when `count` more elements would pass the budget; else counts them as taken.
  void TakeElements(uint64_t count) {
    if (count > Budget.MaxElements - Elements) RaiseOverBudget();
    Elements += count;
    Charge(0, count);
  }

  // Charges what was decoded to the budget shared with other requests, when there is one.
  void Charge(uint64_t bytes, uint64_t elements) {
    if (Budget.Share && !Budget.Share->Add(bytes, elements))
      throw ERequestOverBudget(std::string(kInFlightFullText), false);
  }

  TVariant Element(int depth) {
    if (U16() != kElementMarker) RaiseStreamFormatError();
    const uint16_t type = U16();
    if (type == kVarVariant) RaiseStreamFormatError();
    return Value(type, depth);
  }

  TVariant Value(uint16_t type, int depth) {
    if (type & kVarArray) return Array(static_cast<uint16_t>(type & ~kVarArray), depth + 1);
    switch (type) {
      case kVarEmpty:
        return TVariant();
      case kVarNull:
        return TVariant::Null();
      case kVarSmallint:
      case kVarInteger:
      case kVarError:
      case kVarBoolean:
      case kVarShortInt:
      case kVarByte:
      case kVarWord:
      case kVarLongWord:
        return TVariant::OfInteger(type, static_cast<int32_t>(U32()));
      case kVarSingle: {
        const uint32_t bits = U32();
        float f;
        std::memcpy(&f, &bits, 4);
        return TVariant::Single(f);
      }
      case kVarDouble:
      case kVarDate: {
        const uint64_t bits = U64();
        double d;
        std::memcpy(&d, &bits, 8);
        return type == kVarDate ? TVariant::Date(d) : TVariant(d);
      }
      case kVarCurrency:
        return TVariant::Currency(static_cast<int64_t>(U64()));
      case kVarDecimal: {
        TDecimal dec;
        Get(dec.data(), dec.size());
        return TVariant::Decimal(dec);
      }
      case kVarOleStr: {
        const std::vector<uint8_t> raw = Bytes(2 * uint64_t{Length()});
        std::u16string units(raw.size() / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i) units[i] = char16_t(LoadLE16(&raw[2 * i]));
        return TVariant::Wide(Finish(Utf16ToUtf8(units)));
      }
      case kVarString: {
        const std::vector<uint8_t> raw = Bytes(Length());
        return TVariant(Finish(WireAnsiToUtf8(std::string(raw.begin(), raw.end()), CodePage)));
      }
      default:
        RaiseStreamFormatError();  // interface references (9, 13) and unknown codes
    }
  }

 private:
  uint32_t Length() {
    const int32_t n = static_cast<int32_t>(U32());
    if (n < 0) RaiseStreamFormatError();
    return static_cast<uint32_t>(n);
  }

  std::string Finish(std::string utf8) {
    return Convert ? ConvertScript(utf8, ToTraditional) : utf8;
  }

  TVariant Array(uint16_t elementType, int depth) {
    if (depth > kMaxVariantNesting) RaiseStreamFormatError();
    const int size = ArrayElementSize(elementType);
    if (size == 0 && !IsItemArrayType(elementType)) RaiseStreamFormatError();
    const uint16_t dims = U16();
    if (dims == 0 || dims > kMaxArrayDimensions) RaiseStreamFormatError();
    CheckFits(8 * uint64_t{dims});
    TVarArrayData data;
    data.ElementType = elementType;
    uint64_t count = 1;
    for (uint16_t i = 0; i < dims; ++i) {
      TArrayBound b;
      b.Count = U32();
      b.Low = static_cast<int32_t>(U32());
      data.Bounds.push_back(b);
      count *= b.Count;
      if (count > kMaxInflatedBytes) RaiseStreamFormatError();
    }
    if (size > 0) {
      data.Raw = Bytes(count * size);
    } else {
      CheckFits(count * 4);  // every element takes at least a length or a marker and type
      TakeElements(count);
      data.Items.reserve(static_cast<size_t>(std::min<uint64_t>(count, 4096)));
      for (uint64_t i = 0; i < count; ++i)
        data.Items.push_back(elementType == kVarVariant ? Element(depth)
                                                        : Value(elementType, depth));
    }
    return TVariant::Array(std::move(data));
  }

  bool Refill(size_t wanted) {
    if (wanted >= sizeof Buffer) return false;
    Pos = 0;
    End = Source.Read(Buffer, sizeof Buffer);
    Pulled += End;
    // Bytes pulled but not used yet are forgiven up to one buffer: the decoder may not need them.
    if (Consumed() > Budget.MaxBytes) RaiseOverBudget();
    Charge(End, 0);
    return End > 0;
  }

  // Bytes of the stream decoded so far.
  uint64_t Consumed() const { return Pulled - (End - Pos); }

  [[noreturn]] static void RaiseOverBudget() {
    throw ERequestOverBudget(std::string(kRequestTooLargeText), false);
  }

  TByteSource& Source;
  const TDecodeBudget& Budget;
  uint64_t Pulled = 0;
  uint64_t Elements = 0;
  bool Convert = false;
  bool ToTraditional = false;
  uint32_t CodePage = kCodePageWesternEurope;
  uint8_t Buffer[4096];
  size_t Pos = 0;
  size_t End = 0;
};

}  // namespace

uint64_t EstimateVariantStreamSize(const TVariantArray& items, bool shortMagic) {
  uint64_t size = shortMagic ? 8 : 9;
  for (const TVariant& v : items) size += ElementSize(v);
  return size;
}

void WriteVariantStream(TByteSink& sink, const TVariantArray& items,
                        const TStreamWriteOptions& options) {
  if (items.empty()) throw Exception("An empty variant array is never serialized");
  const TStringCharsets own = options.Charsets ? *options.Charsets : LocalStringCharsets();
  const bool convert = options.ConvertCharset && !options.ShortMagic;
  // The set the stream's strings are in: ours, or the peer's when they are converted.
  const std::optional<bool> streamSet =
      options.ShortMagic ? std::nullopt : std::optional<bool>(own.Traditional != convert);
  TStreamWriter w(sink, convert, !own.Traditional, WriteCodePage(own, streamSet));
  if (options.ShortMagic) {
    w.U32(kStreamMagicShort);
  } else {
    w.U32(kStreamMagicCharset);
    w.U8(*streamSet ? kCharsetTraditional : kCharsetOther);
  }
  w.U32(static_cast<uint32_t>(items.size() - 1));
  for (const TVariant& v : items) w.Element(v);
  w.Flush();
}

std::vector<uint8_t> EncodeVariantStream(const TVariantArray& items,
                                         const TStreamWriteOptions& options) {
  TMemorySink sink;
  sink.Bytes.reserve(static_cast<size_t>(EstimateVariantStreamSize(items, options.ShortMagic)));
  WriteVariantStream(sink, items, options);
  return std::move(sink.Bytes);
}

TVariantArray ReadVariantStream(TByteSource& source, const TDecodeBudget& budget,
                                const TStringCharsets* charsets) {
  TStreamReader r(source, budget);
  const TStringCharsets own = charsets ? *charsets : LocalStringCharsets();
  const uint32_t magic = r.U32();
  if (magic == kStreamMagicCharset) {
    uint8_t charset;
    r.Get(&charset, 1);
    r.SetStreamSet(charset == kCharsetTraditional, own);
  } else if (magic == kStreamMagicShort) {
    r.SetStreamSet(std::nullopt, own);
  } else {
    RaiseStreamFormatError();
  }
  const int32_t high = static_cast<int32_t>(r.U32());
  if (high < 0) RaiseStreamFormatError();
  const uint64_t count = uint64_t(high) + 1;
  r.CheckFits(count * 4);
  r.TakeElements(count);
  TVariantArray items;
  items.reserve(static_cast<size_t>(std::min<uint64_t>(count, 4096)));
  for (uint64_t i = 0; i < count; ++i) items.push_back(r.Element(0));
  if (!r.AtEnd()) RaiseStreamFormatError();
  return items;
}

TVariantArray DecodeVariantStream(std::span<const uint8_t> bytes) {
  TMemorySource source(bytes);
  return ReadVariantStream(source);
}

}  // namespace zor
