// Arbitrary bytes as an adapter's address, as what an adapter answers, and as what a host
// sends it: the address parser and the reply checks never crash, an address reads back the
// same, and data escaped by the driver always comes back whole through the adapter's line
// parser, whatever the bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bus/adapter/prologix_protocol.h"
#include "bus/adapter/transport.h"

using namespace benchcap::bus::adapter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    (void)checkVersionReply(bytes);
    // As the address after "prologix:" on the command line; what it takes reads back the same.
    if (const auto address = parseAdapterAddress(std::string(bytes)); address) {
        const auto again = parseAdapterAddress(address->text());
        if (!again || again->host != address->host || again->port != address->port ||
            again->device != address->device)
            std::abort();
    }
    (void)parseStatusByte(bytes);
    std::string buffer(bytes);
    for (int i = 0; i < 64 && takeReplyLine(buffer); ++i) {
    }

    // As host input, as the emulator reads it.
    HostLineParser raw;
    (void)raw.feed(bytes);

    // Escaped data, fed in two pieces split anywhere, is one data line equal to the input.
    if (!bytes.empty()) {
        const std::string wire = escapeData(bytes);
        const size_t cut = static_cast<unsigned char>(bytes[0]) % wire.size();
        HostLineParser parser;
        auto lines = parser.feed(std::string_view(wire).substr(0, cut));
        for (auto& l : parser.feed(std::string_view(wire).substr(cut)))
            lines.push_back(l);
        if (lines.size() != 1 || lines[0].command || lines[0].text != bytes)
            std::abort();
    }
    return 0;
}
