#include <gtest/gtest.h>

#include "bus/adapter/prologix_protocol.h"
#include "bus/adapter/transport.h"
#include "support/golden.h"

namespace benchcap::bus::adapter {
namespace {

std::string everyByte() {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    return all;
}

TEST(AdapterProtocol, EveryByteRoundTripsThroughEscapesInAnyPieces) {
    const std::string data = everyByte() + "++addr 5\r\n" + everyByte();
    const std::string wire = escapeData(data);
    for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, wire.size()}) {
        HostLineParser parser;
        std::vector<HostLine> lines;
        for (size_t at = 0; at < wire.size(); at += piece) {
            for (auto& l : parser.feed(std::string_view(wire).substr(at, piece)))
                lines.push_back(l);
        }
        ASSERT_EQ(lines.size(), 1u) << "piece " << piece;
        EXPECT_FALSE(lines[0].command);
        EXPECT_EQ(lines[0].text, data);
    }
}

TEST(AdapterProtocol, ManualExampleEscapes) {
    // The manuals' example: 00 01 02 13 03 10 04 27 05 43 06.
    const std::string in{0, 1, 2, 13, 3, 10, 4, 27, 5, 43, 6};
    const std::string out{0, 1, 2, 27, 13, 3, 27, 10, 4, 27, 27, 5, 27, 43, 6, 10};
    EXPECT_EQ(escapeData(in), out);
}

// "parse WIRE": the lines the host parser gives; "version REPLY": the check of a ++ver
// reply; "address TEXT": an adapter address as read and shown; "status LINE": a status byte.
std::string answer(const std::string& input) {
    const size_t space = input.find(' ');
    const std::string kind = input.substr(0, space);
    const std::string text = space == std::string::npos ? "" : input.substr(space + 1);
    std::string out;
    if (kind == "parse") {
        HostLineParser parser;
        for (const HostLine& line : parser.feed(text))
            out += (line.command ? "command " : "data ") + line.text + "\n";
    } else if (kind == "version") {
        const auto r = checkVersionReply(text);
        out = r ? "adapter " + r.value() + "\n" : "refused: " + r.error() + "\n";
    } else if (kind == "address") {
        const auto r = parseAdapterAddress(text);
        out = r ? "host " + r->host + " port " + std::to_string(r->port) + " shown " + r->text() +
                      "\n"
                : "refused\n";
    } else if (kind == "status") {
        const auto r = parseStatusByte(text);
        out = r ? std::to_string(*r) + "\n" : "none\n";
    }
    return out;
}

TEST(AdapterProtocol, CommandsVersionsAddressesAndStatusBytes) {
    test::checkGolden("golden/adapter-protocol.txt", answer);
}

}  // namespace
}  // namespace benchcap::bus::adapter
