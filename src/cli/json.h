#pragma once

#include <string>
#include <string_view>

namespace benchcap::cli {

// Minimal JSON text building for the command-line program's --json output. Instrument
// texts are 8-bit bytes: control characters and bytes above 0x7F are written as \u00XX
// (Latin-1), so any answer gives valid JSON.
std::string jsonString(std::string_view bytes);

class JsonObject {
  public:
    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, const char* text) {
        return add(key, std::string_view(text));
    }
    JsonObject& add(std::string_view key, bool value);
    JsonObject& add(std::string_view key, long long value);
    JsonObject& add(std::string_view key, int value) {
        return add(key, static_cast<long long>(value));
    }
    JsonObject& add(std::string_view key, double value);
    JsonObject& addRaw(std::string_view key, std::string_view json);
    std::string str() const { return "{" + body_ + "}"; }

  private:
    void key(std::string_view k);
    std::string body_;
};

}  // namespace benchcap::cli
