#include "update/release_manifest.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "base/ascii_case.h"
#include "base/format.h"
#include "update/request_name.h"

namespace zor {

namespace {

using Json = nlohmann::json;

[[noreturn]] void Bad(std::string_view what) {
  throw EManifestError("The release manifest is not valid: " + std::string(what));
}

const Json& Member(const Json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end()) Bad(Format("\"%s\" is missing", {name}));
  return *it;
}

int64_t IntegerMember(const Json& object, const char* name, int64_t low, int64_t high) {
  const Json& value = Member(object, name);
  if (!value.is_number_integer()) Bad(Format("\"%s\" is not an integer", {name}));
  int64_t number = 0;
  if (value.is_number_unsigned()) {
    const uint64_t raw = value.get<uint64_t>();
    if (raw > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      Bad(Format("\"%s\" is out of range", {name}));
    number = static_cast<int64_t>(raw);
  } else {
    number = value.get<int64_t>();
  }
  if (number < low || number > high) Bad(Format("\"%s\" is out of range", {name}));
  return number;
}

std::string StringMember(const Json& object, const char* name, size_t maxLength) {
  const Json& value = Member(object, name);
  if (!value.is_string()) Bad(Format("\"%s\" is not a string", {name}));
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() > maxLength) Bad(Format("\"%s\" is too long", {name}));
  return text;
}

bool IsLowerHex(std::string_view text) {
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

std::string ManifestKey(std::string_view name) {
  std::string key = LowerAscii(name);
  for (char& c : key)
    if (c == '/') c = '\\';
  const size_t first = key.find_first_not_of('\\');
  return first == std::string::npos ? std::string() : key.substr(first);
}

void TReleaseManifest::Index() {
  ByKey.clear();
  for (size_t i = 0; i < Files.size(); ++i) ByKey.emplace(ManifestKey(Files[i].Name), i);
}

const TManifestFile* TReleaseManifest::Find(std::string_view name) const {
  auto it = ByKey.find(ManifestKey(name));
  return it == ByKey.end() ? nullptr : &Files[it->second];
}

std::string SerializeManifestBody(const TReleaseManifest& manifest) {
  Json files = Json::array();
  for (const TManifestFile& file : manifest.Files) {
    files.push_back(Json{{"Name", file.Name},
                         {"Size", file.Size},
                         {"SHA256", file.Sha256},
                         {"Version", file.Version},
                         {"Age", file.Age}});
  }
  Json body{{"Format", kManifestFormat},
            {"Counter", manifest.Counter},
            {"Created", manifest.Created},
            {"Expires", manifest.Expires},
            {"Files", files}};
  if (!manifest.NextKey.empty()) body["NextKey"] = manifest.NextKey;
  return body.dump(1) + "\n";
}

TReleaseManifest ParseManifestBody(std::string_view body) {
  if (body.size() > kMaxManifestBytes) Bad("it is too large");
  const Json json = Json::parse(body.begin(), body.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) Bad("it is not a JSON object");
  if (IntegerMember(json, "Format", 0, std::numeric_limits<int32_t>::max()) != kManifestFormat)
    Bad("its format is not known");
  TReleaseManifest manifest;
  manifest.Counter =
      static_cast<uint64_t>(IntegerMember(json, "Counter", 0, std::numeric_limits<int64_t>::max()));
  manifest.Created = IntegerMember(json, "Created", 0, std::numeric_limits<int64_t>::max());
  manifest.Expires = IntegerMember(json, "Expires", 0, std::numeric_limits<int64_t>::max());
  if (json.contains("NextKey")) manifest.NextKey = StringMember(json, "NextKey", kMaxSignatureLine);
  const Json& files = Member(json, "Files");
  if (!files.is_array()) Bad("\"Files\" is not a list");
  if (files.size() > kMaxManifestFiles) Bad("it lists too many files");
  manifest.Files.reserve(files.size());
  for (const Json& entry : files) {
    if (!entry.is_object()) Bad("a file entry is not an object");
    TManifestFile file;
    const std::string name = StringMember(entry, "Name", kMaxRequestNameLength);
    try {
      file.Name = CheckRequestName(name).Wire;
    } catch (const Exception&) {
      Bad(Format("the file name '%s' is not a plain relative name", {name}));
    }
    file.Size = IntegerMember(entry, "Size", 0, std::numeric_limits<int32_t>::max());
    file.Sha256 = StringMember(entry, "SHA256", kSha256HexLength);
    if (file.Sha256.size() != kSha256HexLength || !IsLowerHex(file.Sha256))
      Bad(Format("the hash of '%s' is not 64 hex digits", {name}));
    file.Version = StringMember(entry, "Version", kMaxVersionLength);
    file.Age = static_cast<int32_t>(IntegerMember(entry, "Age", std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
    manifest.Files.push_back(std::move(file));
  }
  manifest.Index();
  for (const TManifestFile& file : manifest.Files) {
    if (manifest.Find(file.Name) != &file) Bad(Format("'%s' is listed twice", {file.Name}));
  }
  return manifest;
}

TSignedManifestText SplitManifestFile(std::string_view text) {
  if (text.size() > kMaxManifestBytes + kMaxSignatureLine) Bad("it is too large");
  const size_t newline = text.find('\n');
  if (newline == std::string_view::npos || newline > kMaxSignatureLine)
    Bad("it has no signature line");
  const std::string_view line = text.substr(0, newline);
  if (line.substr(0, kSignatureLinePrefix.size()) != kSignatureLinePrefix)
    Bad("it has no signature line");
  return TSignedManifestText{std::string(line.substr(kSignatureLinePrefix.size())),
                             text.substr(newline + 1)};
}

}  // namespace zor
