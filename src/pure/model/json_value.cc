#include "pure/model/json_value.h"

#include <algorithm>

namespace zembra {

void json_object_set(JsonObject& object, std::string key, JsonValue value) {
  auto it = std::lower_bound(object.begin(), object.end(), key,
                             [](const auto& entry, const std::string& k) { return entry.first < k; });
  if (it != object.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    object.emplace(it, std::move(key), std::move(value));
  }
}

}  // namespace zembra
