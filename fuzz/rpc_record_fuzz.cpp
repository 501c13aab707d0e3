// Arbitrary bytes as what a VXI-11 gateway or portmapper sends back, fed to the record
// reader in pieces of every size the first byte picks, every record taken out read as a
// reply; and as a LAN bus file. Nothing crashes, a record never exceeds its limit, and a
// resource the file reader takes reads back the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bus/lan/lan_resource.h"
#include "bus/lan/rpc_record.h"

using namespace benchcap::bus::lan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t piece = 1 + data[0] % 64;
    constexpr uint32_t kLimit = 4096;
    RecordReader reader(kLimit, 8);
    std::string input;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        input.append(bytes.substr(at, piece));
        const benchcap::Result<RecordReader::State> state = reader.feed(input);
        if (!state) {
            if (state.error().empty())
                std::abort();
            break;
        }
        if (*state == RecordReader::State::Complete) {
            const std::string record = reader.takeRecord();
            if (record.size() > kLimit)
                std::abort();
            if (auto results = rpcReplyResults(record, 1); results) {
                XdrReader r(*results);
                r.u32();
                (void)r.opaque(1024);
            }
        }
    }
    if (auto map = parseLanBusFile(bytes); map) {
        for (const auto& [address, resource] : *map) {
            const auto again = parseLanResource(resource.text());
            if (address < 1 || address > 30 || !again || again->text() != resource.text())
                std::abort();
        }
    }
    (void)parseGatewayAddress(bytes);
    return 0;
}
