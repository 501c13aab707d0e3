#include <gtest/gtest.h>

#include "bus/adapter/prologix_protocol.h"
#include "bus/adapter/transport.h"

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

TEST(AdapterProtocol, ParserTellsCommandsFromData) {
    struct Case {
        std::string wire;
        std::vector<std::pair<bool, std::string>> lines;
    } cases[] = {
        {"++ver\n", {{true, "ver"}}},
        {"++addr 5\r\n*IDN?\n", {{true, "addr 5"}, {false, "*IDN?"}}},
        {"\x1b+\x1b+ver\n", {{false, "++ver"}}},  // escaped: data, not a command
        {"+\x1b+ver\n", {{false, "++ver"}}},      // only the first plus is plain
        {"\r\n\r\n", {}},                         // empty lines send nothing
        {"a+b\nunfinished", {{false, "a+b"}}},    // the rest waits for its end
    };
    for (const auto& c : cases) {
        HostLineParser parser;
        const auto lines = parser.feed(c.wire);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.wire;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].command, c.lines[i].first) << c.wire;
            EXPECT_EQ(lines[i].text, c.lines[i].second) << c.wire;
        }
    }
}

TEST(AdapterProtocol, VersionReplyChecks) {
    struct Case {
        std::string reply;
        bool ok;
        std::string says;
    } cases[] = {
        {"Prologix GPIB-USB Controller version 6.107\r\n", true, "Prologix GPIB-USB"},
        {"\r\nAR488 GPIB controller, ver. 0.51.09\n", true, "AR488"},
        {"++ver\n", false, "echoes"},
        {"", false, "did not answer"},
        {"Prologix", false, "without ending"},
        {std::string("\xff\xfe\x01zz\r\n"), false, "garbage"},
        {"\r\n\r\n", false, "did not answer"},
    };
    for (const auto& c : cases) {
        const auto r = checkVersionReply(c.reply);
        EXPECT_EQ(r.ok(), c.ok) << c.reply;
        const std::string text = r.ok() ? r.value() : r.error();
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
    }
}

TEST(AdapterProtocol, AdapterAddresses) {
    struct Case {
        std::string text;
        std::string host;  // empty: refused
        int port;
        std::string shown;
    } cases[] = {
        {"10.0.0.5", "10.0.0.5", 1234, "10.0.0.5:1234"},
        {"gpib-lab:99", "gpib-lab", 99, "gpib-lab:99"},
        {"[::1]:1234", "::1", 1234, "[::1]:1234"},
        {"[::1]", "::1", 1234, "[::1]:1234"},
        {"fe80::1", "fe80::1", 1234, "[fe80::1]:1234"},
        {"[::1", "", 0, ""},
        {"[::1]x", "", 0, ""},
        {"host:0", "", 0, ""},
    };
    for (const auto& c : cases) {
        const auto r = parseAdapterAddress(c.text);
        ASSERT_EQ(r.ok(), !c.host.empty()) << c.text;
        if (r) {
            EXPECT_EQ(r->host, c.host) << c.text;
            EXPECT_EQ(r->port, c.port) << c.text;
            EXPECT_EQ(r->text(), c.shown) << c.text;
        }
    }
}

TEST(AdapterProtocol, StatusBytes) {
    EXPECT_EQ(parseStatusByte("0"), 0);
    EXPECT_EQ(parseStatusByte(" 64 "), 64);
    EXPECT_EQ(parseStatusByte("255"), 255);
    EXPECT_EQ(parseStatusByte("256"), std::nullopt);
    EXPECT_EQ(parseStatusByte("x"), std::nullopt);
    EXPECT_EQ(parseStatusByte(""), std::nullopt);
}

}  // namespace
}  // namespace benchcap::bus::adapter
