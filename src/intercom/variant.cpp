#include "intercom/variant.h"

#include <cmath>
#include <cstdio>

#include "base/exceptions.h"

namespace zor {
namespace {

[[noreturn]] void RaiseConversion() {
  throw Exception("Invalid variant type conversion");
}

// Cuts `value` to the range of an integer type the way the system stores it.
int64_t NormalizeInteger(uint16_t type, int64_t value) {
  switch (type) {
    case kVarSmallint:
      return static_cast<int16_t>(value);
    case kVarInteger:
      return static_cast<int32_t>(value);
    case kVarShortInt:
      return static_cast<int8_t>(value);
    case kVarByte:
      return static_cast<uint8_t>(value);
    case kVarWord:
      return static_cast<uint16_t>(value);
    case kVarLongWord:
      return static_cast<uint32_t>(value);
    case kVarError:
      return static_cast<uint32_t>(value);
    case kVarBoolean:
      return value != 0 ? 1 : 0;
    default:
      RaiseConversion();
  }
}

}  // namespace

uint64_t TVarArrayData::ElementCount() const {
  if (Bounds.empty()) return 0;
  uint64_t count = 1;
  for (const TArrayBound& b : Bounds) count *= b.Count;
  return count;
}

bool TVarArrayData::operator==(const TVarArrayData& other) const {
  return ElementType == other.ElementType && Bounds == other.Bounds && Raw == other.Raw &&
         Items == other.Items;
}

TVariant::TVariant(int32_t value) : VType(kVarInteger), Value(int64_t{value}) {}

TVariant::TVariant(bool value) : VType(kVarBoolean), Value(int64_t{value ? 1 : 0}) {}

TVariant::TVariant(double value) : VType(kVarDouble), Value(value) {}

TVariant::TVariant(const char* text) : VType(kVarString), Value(std::string(text ? text : "")) {}

TVariant::TVariant(std::string text) : VType(kVarString), Value(std::move(text)) {}

TVariant TVariant::Null() {
  TVariant v;
  v.VType = kVarNull;
  return v;
}

TVariant TVariant::OfInteger(uint16_t type, int64_t value) {
  TVariant v;
  v.Value = NormalizeInteger(type, value);
  v.VType = type;
  return v;
}

TVariant TVariant::Single(float value) {
  TVariant v;
  v.VType = kVarSingle;
  v.Value = value;
  return v;
}

TVariant TVariant::Currency(int64_t scaledBy10000) {
  TVariant v;
  v.VType = kVarCurrency;
  v.Value = scaledBy10000;
  return v;
}

TVariant TVariant::Date(double value) {
  TVariant v(value);
  v.VType = kVarDate;
  return v;
}

TVariant TVariant::Wide(std::string utf8) {
  TVariant v(std::move(utf8));
  v.VType = kVarOleStr;
  return v;
}

TVariant TVariant::Decimal(const TDecimal& bytes) {
  TVariant v;
  v.VType = kVarDecimal;
  v.Value = bytes;
  return v;
}

TVariant TVariant::Bytes(std::vector<uint8_t> bytes) {
  TVarArrayData data;
  data.ElementType = kVarByte;
  data.Bounds.push_back({static_cast<uint32_t>(bytes.size()), 0});
  data.Raw = std::move(bytes);
  return Array(std::move(data));
}

TVariant TVariant::VariantArray(TVariantArray items) {
  TVarArrayData data;
  data.ElementType = kVarVariant;
  data.Bounds.push_back({static_cast<uint32_t>(items.size()), 0});
  data.Items = std::move(items);
  return Array(std::move(data));
}

TVariant TVariant::Array(TVarArrayData data) {
  const uint64_t count = data.ElementCount();
  const int size = ArrayElementSize(data.ElementType);
  const bool itemType = data.ElementType == kVarVariant || data.ElementType == kVarOleStr ||
                        data.ElementType == kVarString;
  if (data.Bounds.empty() || data.Bounds.size() > kMaxArrayDimensions || (size == 0 && !itemType))
    throw Exception("Invalid variant array");
  if (size > 0 ? data.Raw.size() != count * size || !data.Items.empty()
               : data.Items.size() != count || !data.Raw.empty())
    throw Exception("Invalid variant array");
  if (data.ElementType != kVarVariant) {
    for (const TVariant& item : data.Items)
      if (item.Type() != data.ElementType) throw Exception("Invalid variant array");
  }
  TVariant v;
  v.VType = static_cast<uint16_t>(kVarArray | data.ElementType);
  v.Value = std::make_shared<const TVarArrayData>(std::move(data));
  return v;
}

bool TVariant::IsIntegral() const {
  return std::holds_alternative<int64_t>(Value) && VType != kVarCurrency;
}

int64_t TVariant::AsInt64() const {
  if (IsIntegral()) return std::get<int64_t>(Value);
  RaiseConversion();
}

bool TVariant::AsBoolean() const {
  return AsInt64() != 0;
}

double TVariant::AsDouble() const {
  if (const double* d = std::get_if<double>(&Value)) return *d;
  if (const float* f = std::get_if<float>(&Value)) return *f;
  if (VType == kVarCurrency) return static_cast<double>(std::get<int64_t>(Value)) / 10000.0;
  if (IsIntegral()) return static_cast<double>(std::get<int64_t>(Value));
  RaiseConversion();
}

float TVariant::AsSingle() const {
  if (const float* f = std::get_if<float>(&Value)) return *f;
  RaiseConversion();
}

int64_t TVariant::AsCurrency() const {
  if (VType == kVarCurrency) return std::get<int64_t>(Value);
  RaiseConversion();
}

const std::string& TVariant::Text() const {
  if (const std::string* s = std::get_if<std::string>(&Value)) return *s;
  RaiseConversion();
}

const TDecimal& TVariant::AsDecimal() const {
  if (const TDecimal* d = std::get_if<TDecimal>(&Value)) return *d;
  RaiseConversion();
}

const TVarArrayData& TVariant::ArrayData() const {
  if (const auto* a = std::get_if<std::shared_ptr<const TVarArrayData>>(&Value)) return **a;
  RaiseConversion();
}

std::string TVariant::AsString() const {
  if (VType == kVarEmpty || VType == kVarNull) return {};
  if (IsString()) return Text();
  if (VType == kVarBoolean) return AsBoolean() ? "True" : "False";
  if (IsIntegral()) return std::to_string(AsInt64());
  if (VType == kVarSingle || VType == kVarDouble || VType == kVarDate || VType == kVarCurrency) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", AsDouble());
    return text;
  }
  RaiseConversion();
}

bool TVariant::operator==(const TVariant& other) const {
  if (VType != other.VType) return false;
  if (IsArray()) return ArrayData() == other.ArrayData();
  return Value == other.Value;
}

}  // namespace zor
