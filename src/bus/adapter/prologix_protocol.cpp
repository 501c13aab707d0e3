#include "bus/adapter/prologix_protocol.h"

#include <charconv>

namespace benchcap::bus::adapter {

std::string escapeData(std::string_view data) {
    std::string out;
    out.reserve(data.size() + data.size() / 16 + 1);
    for (char c : data) {
        if (c == '\r' || c == '\n' || c == kEsc || c == '+')
            out += kEsc;
        out += c;
    }
    out += '\n';
    return out;
}

std::vector<HostLine> HostLineParser::feed(std::string_view bytes) {
    std::vector<HostLine> lines;
    for (char c : bytes) {
        if (escaped_) {
            escaped_ = false;
            leadingDone_ = true;
            text_ += c;
            continue;
        }
        if (c == kEsc) {
            escaped_ = true;
            continue;
        }
        if (c == '\r' || c == '\n') {
            const bool command = leadingPlus_ >= 2;
            std::string text = command ? text_.substr(2) : text_;
            if (command || !text.empty())
                lines.push_back(HostLine{command, std::move(text)});
            text_.clear();
            leadingPlus_ = 0;
            leadingDone_ = false;
            continue;
        }
        if (!leadingDone_ && c == '+' && leadingPlus_ < 2)
            ++leadingPlus_;
        else
            leadingDone_ = true;
        text_ += c;
    }
    return lines;
}

std::optional<std::string> takeReplyLine(std::string& buffer) {
    const size_t end = buffer.find_first_of("\r\n");
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = buffer.substr(0, end);
    size_t next = end + 1;
    if (buffer[end] == '\r' && next < buffer.size() && buffer[next] == '\n')
        ++next;
    buffer.erase(0, next);
    return line;
}

Result<std::string> checkVersionReply(std::string_view reply) {
    // Leading blank lines (a CR LF pair split by the adapter) carry nothing.
    while (!reply.empty() && (reply.front() == '\r' || reply.front() == '\n'))
        reply.remove_prefix(1);
    const size_t end = reply.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        if (reply.empty())
            return fail("did not answer the version query ++ver");
        return fail("answered ++ver without ending the line");
    }
    const std::string_view line = reply.substr(0, end);
    if (line.rfind("++", 0) == 0)
        return fail("echoes commands back (\"" + std::string(line.substr(0, 40)) +
                    "\"): it is not in \"++\" controller mode, or something else is on that port");
    if (line.empty())
        return fail("answered ++ver with an empty line");
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E)
            return fail("answered garbage to ++ver (byte " + std::to_string(u) +
                        "): wrong baud rate, or not a \"++\" adapter");
    }
    return std::string(line);
}

std::optional<int> parseStatusByte(std::string_view line) {
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ')
        line.remove_suffix(1);
    int value = -1;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (ec != std::errc() || ptr != line.data() + line.size() || value < 0 || value > 255)
        return std::nullopt;
    return value;
}

}  // namespace benchcap::bus::adapter
