#include "platform/registry_hive.h"

namespace zor {

const RegNamedValue* RegKeyNode::FindValue(std::string_view name) const {
  for (const RegNamedValue& v : Values)
    if (RegNamesEqual(v.Name, name)) return &v;
  return nullptr;
}

RegHive::RegHive() {
  Keys.emplace(std::string(), RegKeyNode{});
}

const RegKeyNode* RegHive::FindKey(std::string_view path) const {
  const auto it = Keys.find(path);
  return it == Keys.end() ? nullptr : &it->second;
}

RegKeyNode& RegHive::CreateKey(std::string_view path) {
  // Walk down from the root so that each new key extends its parent's stored spelling.
  RegKeyNode* node = &Keys.find(std::string_view())->second;
  std::string spelled;
  for (std::string_view part : SplitRegPath(path)) {
    std::string next =
        spelled.empty() ? std::string(part) : spelled + kRegPathSeparator + std::string(part);
    auto it = Keys.find(next);
    if (it == Keys.end()) it = Keys.emplace(next, RegKeyNode{next, {}}).first;
    node = &it->second;
    spelled = node->Path;
  }
  return *node;
}

bool RegHive::DeleteKey(std::string_view path) {
  auto it = Keys.find(path);
  if (it == Keys.end()) return false;
  if (path.empty()) {
    it->second.Values.clear();
    ++it;
  }
  while (it != Keys.end() && RegPathIsWithin(it->first, path)) it = Keys.erase(it);
  return true;
}

void RegHive::SetValue(std::string_view path, std::string_view name, RegValue value) {
  RegKeyNode& key = CreateKey(path);
  for (RegNamedValue& v : key.Values) {
    if (RegNamesEqual(v.Name, name)) {
      v.Value = std::move(value);
      return;
    }
  }
  key.Values.push_back({std::string(name), std::move(value)});
}

bool RegHive::DeleteValue(std::string_view path, std::string_view name) {
  auto it = Keys.find(path);
  if (it == Keys.end()) return false;
  auto& values = it->second.Values;
  for (auto v = values.begin(); v != values.end(); ++v) {
    if (RegNamesEqual(v->Name, name)) {
      values.erase(v);
      return true;
    }
  }
  return false;
}

std::vector<std::string> RegHive::SubKeyNames(std::string_view path) const {
  std::vector<std::string> names;
  const size_t skip = path.empty() ? 0 : path.size() + 1;
  for (const RegKeyNode* node : Subtree(path)) {
    if (node->Path.size() <= skip && !path.empty()) continue;  // the key itself
    if (path.empty() && node->Path.empty()) continue;
    std::string_view rest = std::string_view(node->Path).substr(skip);
    if (rest.find(kRegPathSeparator) == std::string_view::npos) names.emplace_back(rest);
  }
  return names;
}

std::vector<const RegKeyNode*> RegHive::Subtree(std::string_view path) const {
  std::vector<const RegKeyNode*> nodes;
  for (auto it = Keys.find(path); it != Keys.end() && RegPathIsWithin(it->first, path); ++it)
    nodes.push_back(&it->second);
  return nodes;
}

}  // namespace zor
