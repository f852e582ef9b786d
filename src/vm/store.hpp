// The variable store: one global scope mapping names to byte-string values. Lookups take
// any byte slice and compare exact bytes.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zandle::vm {

struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

template <class V>
using NameMap = std::unordered_map<std::string, V, NameHash, std::equal_to<>>;

class Variables {
 public:
  const std::string* find(std::string_view name) const {
    auto it = map_.find(name);
    return it == map_.end() ? nullptr : &it->second;
  }

  // Creates the variable or replaces its value.
  void store(std::string_view name, std::string_view value) {
    auto it = map_.find(name);
    if (it != map_.end()) {
      it->second.assign(value);
    } else {
      map_.emplace(std::string(name), std::string(value));
    }
  }

  void store(std::string_view name, std::string&& value) {
    auto it = map_.find(name);
    if (it != map_.end()) {
      it->second = std::move(value);
    } else {
      map_.emplace(std::string(name), std::move(value));
    }
  }

  void store(std::string_view name, const char* value) { store(name, std::string_view(value)); }

  std::size_t size() const { return map_.size(); }

 private:
  NameMap<std::string> map_;
};

}  // namespace zandle::vm
