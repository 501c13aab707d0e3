#include "cli/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace benchcap::cli {

std::string jsonString(std::string_view bytes) {
    std::string out = "\"";
    out.reserve(bytes.size() + 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
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
                if (c < 0x20 || c >= 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out += "\"";
    return out;
}

void JsonObject::key(std::string_view k) {
    if (!body_.empty())
        body_ += ", ";
    body_ += jsonString(k);
    body_ += ": ";
}

JsonObject& JsonObject::add(std::string_view k, std::string_view text) {
    key(k);
    body_ += jsonString(text);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, bool value) {
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, long long value) {
    key(k);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, double value) {
    key(k);
    if (!std::isfinite(value)) {
        body_ += "null";
    } else {
        char buf[64];
        const auto res = std::to_chars(buf, buf + sizeof buf, value);  // shortest, locale-free
        body_.append(buf, res.ptr);
    }
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view k, std::string_view json) {
    key(k);
    body_ += json;
    return *this;
}

}  // namespace benchcap::cli
