// The variant value that every protocol payload is made of: a type code of the wire format
// (empty, null, the integer family, single, double, currency, date-time, wide string, 8-bit
// string, decimal, Boolean, error, arrays) and its value. Strings are UTF-8 inside the program
// whatever their wire type. Arrays are immutable once built and shared between copies.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "intercom/wire_format.h"

namespace zor {

class TVariant;
// The payload of a message: a one-dimensional, zero-based array of variants (high index = size-1).
using TVariantArray = std::vector<TVariant>;
using TDecimal = std::array<uint8_t, 16>;

struct TArrayBound {
  uint32_t Count = 0;
  int32_t Low = 0;
  bool operator==(const TArrayBound&) const = default;
};

// The contents of an array variant. Elements of fixed size live in `Raw` exactly as they travel
// (little-endian, `ArrayElementSize` bytes each); strings and variants live in `Items`.
struct TVarArrayData {
  uint16_t ElementType = kVarVariant;
  std::vector<TArrayBound> Bounds;
  std::vector<uint8_t> Raw;
  TVariantArray Items;

  uint64_t ElementCount() const;
  bool operator==(const TVarArrayData&) const;
};

class TVariant {
 public:
  TVariant() = default;  // empty
  // Constructors out of line: inlined into a vector's growth they trip GCC 12's
  // uninitialized-use warning on the variant's string member.
  TVariant(int32_t value);
  TVariant(bool value);
  TVariant(double value);
  TVariant(const char* text);
  TVariant(std::string text);

  static TVariant Null();
  // Any of the integer family (2, 3, 16-19) or the error code (10); the value is cut to the
  // range of the type the way the system stores it (smallint sign-extends, byte zero-extends).
  static TVariant OfInteger(uint16_t type, int64_t value);
  static TVariant Single(float value);
  static TVariant Currency(int64_t scaledBy10000);
  static TVariant Date(double value);
  static TVariant Wide(std::string utf8);
  static TVariant Decimal(const TDecimal& bytes);
  // A one-dimensional, zero-based byte array (type 0x2011).
  static TVariant Bytes(std::vector<uint8_t> bytes);
  // A one-dimensional, zero-based array of variants (type 0x200C).
  static TVariant VariantArray(TVariantArray items);
  // Any array; checks that the contents match the element type and the bounds.
  static TVariant Array(TVarArrayData data);

  uint16_t Type() const { return VType; }
  bool IsArray() const { return (VType & kVarArray) != 0; }
  bool IsEmpty() const { return VType == kVarEmpty; }
  bool IsNull() const { return VType == kVarNull; }
  bool IsString() const { return VType == kVarOleStr || VType == kVarString; }
  bool IsIntegral() const;  // integer family, error and Boolean

  // Value readers; asking a value of the wrong kind raises "Invalid variant type conversion".
  int64_t AsInt64() const;
  int32_t AsInteger() const { return static_cast<int32_t>(AsInt64()); }
  bool AsBoolean() const;
  double AsDouble() const;
  float AsSingle() const;
  int64_t AsCurrency() const;       // scaled by 10000
  const std::string& Text() const;  // strings only
  const TDecimal& AsDecimal() const;
  const TVarArrayData& ArrayData() const;
  // The value as text, as an error message shows it (empty and null give "").
  std::string AsString() const;

  bool operator==(const TVariant& other) const;

 private:
  uint16_t VType = kVarEmpty;
  std::variant<std::monostate, int64_t, double, float, std::string, TDecimal,
               std::shared_ptr<const TVarArrayData>>
      Value;
};

}  // namespace zor
