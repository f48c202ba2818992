#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::cli {

// A JSON string literal of text (UTF-8 kept, control characters escaped).
std::string JsonString(const std::string& text);

// A JSON array of the JSON texts given.
std::string JsonArray(const std::vector<std::string>& items);

// Builds one flat JSON object, members in the order they are added.
class JsonObject {
  public:
    JsonObject& Add(const std::string& key, int64_t value);
    JsonObject& Add(const std::string& key, const std::string& value);
    JsonObject& Add(const std::string& key, const char* value) {
        return Add(key, std::string(value));
    }
    // json is already JSON text (an object or array built elsewhere).
    JsonObject& AddJson(const std::string& key, const std::string& json);
    // Appends the members of other after these.
    JsonObject& Append(const JsonObject& other);
    std::string Text() const { return "{" + members_ + "}"; }

  private:
    void Key(const std::string& key);
    std::string members_;
};

}  // namespace diagbridge::cli
