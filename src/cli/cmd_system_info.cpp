#include <QtGlobal>
#include <fstream>
#include <ostream>

#include <cstdlib>

#include "bus/adapter/prologix_driver.h"
#include "bus/lan/lan_driver.h"
#include "bus/lan/lan_resource.h"
#include "bus/library_driver.h"
#include "cli/cli.h"

namespace benchcap::cli {
namespace {

// A value of os-release: quotes and the backslash escapes of its shell syntax removed.
std::string unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        out += value[i];
    }
    return out;
}

}  // namespace

std::string operatingSystemName(const std::string& osReleaseFile) {
    std::ifstream in(osReleaseFile);
    if (!in)
        return "unknown (no " + osReleaseFile + ")";
    std::string line;
    std::string pretty;
    std::string name;
    std::string version;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = unquoted(line.substr(eq + 1));
        if (key == "PRETTY_NAME")
            pretty = value;
        else if (key == "NAME")
            name = value;
        else if (key == "VERSION")
            version = value;
    }
    if (!pretty.empty())
        return pretty;
    if (!name.empty())
        return version.empty() ? name : name + " " + version;
    return "unknown (" + osReleaseFile + " names none)";
}

std::string systemReport(const std::string& osReleaseFile, const std::string& driverLine) {
    return std::string("Benchcap ") + BENCHCAP_VERSION + "\n" +
           "OS: " + operatingSystemName(osReleaseFile) + "\n" + "Qt: " + qVersion() + "\n" +
           driverLine + "\n";
}

int printSystemInfo(std::ostream& out, const std::string& interfaceChoice) {
    out << systemReport("/etc/os-release", bus::driverLibraryReport());
    std::string choice = interfaceChoice;
    if (const char* env = std::getenv("BENCHCAP_INTERFACE"); choice.empty() && env)
        choice = env;
    if (choice.rfind("prologix:", 0) == 0) {
        out << "GPIB adapter: " << choice.substr(9) << ": ";
        Result<bus::adapter::AdapterAddress> address =
            bus::adapter::parseAdapterAddress(choice.substr(9));
        if (!address) {
            out << address.error() << '\n';
        } else {
            bus::adapter::PrologixDriver adapter(address.value());
            Status connected = adapter.connect();
            out << (connected ? adapter.adapterVersion() : connected.error()) << '\n';
        }
    } else if (choice.rfind("vxi11:", 0) == 0) {
        // Whether the gateway answers is the first question of a bug report over the LAN.
        out << "VXI-11 gateway: " << choice.substr(6) << ": ";
        Result<bus::lan::GatewayAddress> gateway = bus::lan::parseGatewayAddress(choice.substr(6));
        if (!gateway) {
            out << gateway.error() << '\n';
        } else {
            const std::string why =
                bus::lan::makeGatewayDriver(gateway.value())->unavailableReason();
            out << (why.empty() ? std::string("answers") : why) << '\n';
        }
    }
    return kExitDone;
}

}  // namespace benchcap::cli
