#pragma once

#include <map>
#include <string>
#include <string_view>

#include "base/result.h"

namespace benchcap::bus::lan {

// One instrument on the LAN: "vxi11://HOST[:PORT]/DEVICE" (a VXI-11 link to DEVICE, such as
// "inst0" or "gpib0,12"; without a port the host's portmapper names the core channel) or
// "socket://HOST:PORT" (a raw SCPI socket). HOST is a name, an IPv4 address or an IPv6
// literal in brackets.
struct LanResource {
    enum class Kind { Vxi11, Socket };
    Kind kind = Kind::Vxi11;
    std::string host;
    int port = 0;  // Vxi11: 0 asks the portmapper
    std::string device;
    // "HOST:PORT" / "[::1]:PORT", or the host alone for a port still to be asked.
    std::string endpoint() const;
    std::string text() const;  // the resource as written
};
Result<LanResource> parseLanResource(std::string_view text);

// A VXI-11 gateway as "--interface vxi11:HOST[:PORT][/gpibN]" names it.
struct GatewayAddress {
    std::string host;
    int port = 0;  // 0: ask the portmapper
    std::string bus = "gpib0";
    std::string text() const;
};
Result<GatewayAddress> parseGatewayAddress(std::string_view text);

// The LAN bus file: one "ADDRESS = RESOURCE" line per bus address 1 to 30, blank lines and
// "#" comments allowed, a UTF-8 byte-order mark skipped. A bad line fails with its line
// number and what is wrong; loadLanBusFile refuses anything but a regular file unopened.
using LanBusMap = std::map<int, LanResource>;
Result<LanBusMap> parseLanBusFile(std::string_view text);
Result<LanBusMap> loadLanBusFile(const std::string& path);

}  // namespace benchcap::bus::lan
