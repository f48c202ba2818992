#include "tools/diagbridge/Json.h"

#include <cstdio>

namespace diagbridge::cli {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

void JsonObject::Key(const std::string& key) {
    if (!members_.empty()) members_ += ",";
    members_ += JsonString(key) + ":";
}

JsonObject& JsonObject::Add(const std::string& key, int64_t value) {
    Key(key);
    members_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
    Key(key);
    members_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::AddJson(const std::string& key, const std::string& json) {
    Key(key);
    members_ += json;
    return *this;
}

JsonObject& JsonObject::Append(const JsonObject& other) {
    if (!members_.empty() && !other.members_.empty()) members_ += ",";
    members_ += other.members_;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& items) {
    std::string text = "[";
    for (const std::string& item : items) {
        if (text.size() > 1) text += ",";
        text += item;
    }
    return text + "]";
}

}  // namespace diagbridge::cli
