#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

// The "++" command protocol of Prologix GPIB-USB / GPIB-ETHERNET controllers and the AR488
// adapters that copy it: what goes over the wire, without any transport.
namespace benchcap::bus::adapter {

inline constexpr char kEsc = 27;

// Data for an instrument as one adapter line: every CR, LF, ESC and '+' preceded by ESC
// (the adapter would otherwise end the line, or take "++" as a command), then LF.
std::string escapeData(std::string_view data);

// One line the host sent, as the adapter reads it: escapes removed, and whether it is a
// command (it began with an unescaped "++").
struct HostLine {
    bool command = false;
    std::string text;  // data bytes, or the command without "++" (e.g. "read eoi")
};

// Splits the host's byte stream into lines at unescaped CR or LF, as an adapter does;
// bytes of an unfinished line are kept for the next feed.
class HostLineParser {
  public:
    std::vector<HostLine> feed(std::string_view bytes);

  private:
    std::string text_;
    bool escaped_ = false;
    // How many of the line's first bytes were unescaped '+': a line is a command when
    // its first two bytes are.
    int leadingPlus_ = 0;
    bool leadingDone_ = false;
};

// The adapter's answer to "++ver", checked: one printable line, not an echo of a command.
// Fails with what was wrong ("echoes commands", "answered garbage", "did not answer").
Result<std::string> checkVersionReply(std::string_view reply);

// A complete reply line (up to CR or LF) at the start of `buffer`, without its end; nullopt
// while the line is unfinished.
std::optional<std::string> takeReplyLine(std::string& buffer);

// "++spoll" answer: a decimal status byte 0..255.
std::optional<int> parseStatusByte(std::string_view line);

}  // namespace benchcap::bus::adapter
