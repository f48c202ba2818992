#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::cli {

// A JSON string literal of text (UTF-8 kept, control characters escaped).
std::string JsonString(const std::string& text);

// Builds one flat JSON object, members in the order they are added.
class JsonObject {
  public:
    JsonObject& Add(const std::string& key, int64_t value);
    JsonObject& Add(const std::string& key, const std::string& value);
    std::string Text() const { return "{" + members_ + "}"; }

  private:
    void Key(const std::string& key);
    std::string members_;
};

}  // namespace diagbridge::cli
