#include "bus/block_header.h"

#include <algorithm>

namespace benchcap::bus {

int BlockLengthDigits(std::string_view opening) {
    if (opening.size() < 2 || opening[0] != '#' || opening[1] < '1' || opening[1] > '9')
        return 0;
    return opening[1] - '0';
}

int64_t BlockLengthValue(std::string_view digits) {
    int64_t length = 0;
    for (const char c : digits.substr(0, 9)) {
        if (c < '0' || c > '9')
            return -1;
        length = length * 10 + (c - '0');
    }
    return digits.size() > 9 ? -1 : length;
}

std::string ReadBlockHeaderBytes(Session& session, int& status) {
    char opening[2] = {' ', ' '};
    status = session.ReadBlock(opening, 2);
    // 0: the session's guards kept the read off the bus, so the driver status is not ours.
    if (status == 0)
        return {};
    const long got = std::clamp<long>(session.driver().status().ibcntl, 0, 2);
    std::string header(opening, static_cast<size_t>(got));
    const int digits = BlockLengthDigits(header);
    if (digits == 0)
        return header;
    char field[9];
    std::fill(std::begin(field), std::end(field), ' ');
    if (session.ReadBlock(field, digits) == 0)
        return header;
    const long more = std::clamp<long>(session.driver().status().ibcntl, 0, digits);
    header.append(field, static_cast<size_t>(more));
    return header;
}

}  // namespace benchcap::bus
