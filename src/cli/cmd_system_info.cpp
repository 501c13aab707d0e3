#include <QtGlobal>
#include <fstream>
#include <ostream>

#include "bus/library_driver.h"
#include "cli/cli.h"
#include "interfaces/interface_table.h"

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
    // An adapter's or a gateway's answer is the first question of a bug report.
    out << interfaces::reachabilityReport(interfaces::chosenInterface(interfaceChoice));
    return kExitDone;
}

}  // namespace benchcap::cli
