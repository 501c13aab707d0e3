#include "bus/lan/lan_resource.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/input_file.h"

namespace benchcap::bus::lan {

namespace {

std::string hostText(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT"; port 0 when none is given.
Result<std::pair<std::string, int>> splitHostPort(std::string_view text) {
    std::string host;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || (close + 1 < text.size() && text[close + 1] != ':'))
            return fail("an IPv6 address is written [ADDRESS] or [ADDRESS]:PORT, not '" +
                        std::string(text) + "'");
        host = text.substr(1, close - 1);
        if (close + 1 < text.size())
            port = text.substr(close + 2);
        else
            port = {};
        if (close + 1 < text.size() && port.empty())
            return fail("no port after ':' in '" + std::string(text) + "'");
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
            return fail("an IPv6 address must be written in brackets: [" + std::string(text) + "]");
        host = text.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty())
                return fail("no port after ':' in '" + std::string(text) + "'");
        }
    }
    if (host.empty() || host.find_first_of("[]/ \t") != std::string::npos)
        return fail("no host name or address in '" + std::string(text) + "'");
    int value = 0;
    if (!port.empty()) {
        const auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || ptr != port.data() + port.size() || value < 1 || value > 65535)
            return fail("a port is a number from 1 to 65535, not '" + std::string(port) + "'");
    }
    return std::make_pair(host, value);
}

}  // namespace

std::string LanResource::endpoint() const {
    return port ? hostText(host) + ":" + std::to_string(port) : hostText(host);
}

std::string LanResource::text() const {
    if (kind == Kind::Socket)
        return "socket://" + endpoint();
    return "vxi11://" + endpoint() + "/" + device;
}

Result<LanResource> parseLanResource(std::string_view text) {
    LanResource r;
    std::string_view rest;
    if (text.rfind("vxi11://", 0) == 0) {
        rest = text.substr(8);
    } else if (text.rfind("socket://", 0) == 0) {
        r.kind = LanResource::Kind::Socket;
        rest = text.substr(9);
    } else {
        return fail("'" + std::string(text) +
                    "' is no LAN resource: use vxi11://HOST/DEVICE or socket://HOST:PORT");
    }
    const size_t slash = rest.find('/');
    auto hostPort = splitHostPort(rest.substr(0, slash));
    if (!hostPort)
        return fail(hostPort.error());
    r.host = hostPort->first;
    r.port = hostPort->second;
    if (r.kind == LanResource::Kind::Socket) {
        if (slash != std::string_view::npos)
            return fail("a socket resource has no device name: socket://HOST:PORT, not '" +
                        std::string(text) + "'");
        if (r.port == 0)
            return fail("a socket resource needs its port (SCPI instruments use 5025): '" +
                        std::string(text) + "'");
        return r;
    }
    if (slash != std::string_view::npos)
        r.device = rest.substr(slash + 1);
    if (r.device.empty() || r.device.size() > 64 ||
        r.device.find_first_of(" \t/") != std::string::npos)
        return fail(
            "a VXI-11 resource names its device (vxi11://HOST/inst0, "
            "vxi11://HOST/gpib0,12), not '" +
            std::string(text) + "'");
    return r;
}

std::string GatewayAddress::text() const {
    return hostText(host) + (port ? ":" + std::to_string(port) : std::string()) +
           (bus == "gpib0" ? std::string() : "/" + bus);
}

Result<GatewayAddress> parseGatewayAddress(std::string_view text) {
    GatewayAddress g;
    const size_t slash = text.find('/');
    auto hostPort = splitHostPort(text.substr(0, slash));
    if (!hostPort)
        return fail("VXI-11 gateway: " + hostPort.error() + "; use vxi11:HOST[:PORT][/gpibN]");
    g.host = hostPort->first;
    g.port = hostPort->second;
    if (slash != std::string_view::npos) {
        g.bus = text.substr(slash + 1);
        const std::string_view digits = std::string_view(g.bus).substr(g.bus.size() > 4 ? 4 : 0);
        if (g.bus.rfind("gpib", 0) != 0 || g.bus.size() < 5 || g.bus.size() > 7 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return fail(
                "VXI-11 gateway: the bus behind it is named gpibN (gpib0, gpib1, ...), "
                "not '" +
                std::string(text.substr(slash + 1)) + "'");
    }
    return g;
}

Result<LanBusMap> parseLanBusFile(std::string_view text) {
    LanBusMap map;
    int lineNumber = 0;
    // Editors on some systems start a UTF-8 file with a byte-order mark.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.remove_prefix(3);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trim(line);
        if (line.empty())
            continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail(where + "expected ADDRESS = RESOURCE, not '" + std::string(line) + "'");
        const std::string_view addressText = trim(line.substr(0, eq));
        int address = 0;
        const auto [ptr, ec] =
            std::from_chars(addressText.data(), addressText.data() + addressText.size(), address);
        if (ec != std::errc() || ptr != addressText.data() + addressText.size() || address < 1 ||
            address > 30)
            return fail(where + "the address must be a number from 1 to 30, not '" +
                        std::string(addressText) + "'");
        if (map.count(address))
            return fail(where + "address " + std::to_string(address) + " is mapped twice");
        Result<LanResource> resource = parseLanResource(trim(line.substr(eq + 1)));
        if (!resource)
            return fail(where + resource.error());
        map[address] = std::move(resource.value());
    }
    return map;
}

Result<LanBusMap> loadLanBusFile(const std::string& path) {
    if (Status readable = checkRegularFile(path, "the LAN bus file"); !readable)
        return fail(readable.error());
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail("cannot read the LAN bus file " + path + ": " + std::strerror(errno));
    std::ostringstream s;
    // A LAN bus file is a few lines; a huge file is a mistake, not a bus.
    char buffer[4096];
    size_t total = 0;
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        total += static_cast<size_t>(in.gcount());
        if (total > 1 << 20)
            return fail("the LAN bus file " + path + " is larger than 1 MiB: no bus file");
        s.write(buffer, in.gcount());
    }
    Result<LanBusMap> map = parseLanBusFile(s.str());
    if (!map)
        return fail("LAN bus file " + path + ", " + map.error());
    return map;
}

}  // namespace benchcap::bus::lan
