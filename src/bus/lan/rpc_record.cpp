#include "bus/lan/rpc_record.h"

#include <algorithm>

namespace benchcap::bus::lan {

XdrWriter& XdrWriter::u32(uint32_t value) {
    const char b[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
    out_.append(b, 4);
    return *this;
}

XdrWriter& XdrWriter::opaque(std::string_view bytes) {
    u32(static_cast<uint32_t>(bytes.size()));
    out_.append(bytes);
    out_.append((4 - bytes.size() % 4) % 4, '\0');
    return *this;
}

uint32_t XdrReader::u32() {
    if (!ok_ || data_.size() - at_ < 4) {
        ok_ = false;
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data_.data() + at_);
    at_ += 4;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::string_view XdrReader::opaque(uint32_t maxBytes) {
    const uint32_t size = u32();
    const size_t padded = (static_cast<size_t>(size) + 3) / 4 * 4;
    if (!ok_ || size > maxBytes || data_.size() - at_ < padded) {
        ok_ = false;
        return {};
    }
    const std::string_view bytes = data_.substr(at_, size);
    at_ += padded;
    return bytes;
}

std::string markRecord(std::string_view message) {
    XdrWriter w;
    w.u32(0x80000000u | static_cast<uint32_t>(message.size()));
    return w.bytes() + std::string(message);
}

Result<RecordReader::State> RecordReader::feed(std::string& input) {
    if (!refused_)
        return refused_.failure();
    size_t used = 0;
    while (!complete_) {
        if (!inFragment_) {
            if (input.size() - used < 4)
                break;
            XdrReader header(std::string_view(input).substr(used, 4));
            const uint32_t word = header.u32();
            used += 4;
            lastFragment_ = (word & 0x80000000u) != 0;
            fragmentLeft_ = word & 0x7FFFFFFFu;
            if (fragmentLeft_ > maxBytes_ - record_.size()) {
                refused_ = fail(ErrorKind::BadData,
                                "a record of more than " + std::to_string(maxBytes_) +
                                    " bytes was announced (" + std::to_string(fragmentLeft_) +
                                    " bytes in one fragment)");
                break;
            }
            if (++fragments_ > maxFragments_) {
                refused_ =
                    fail(ErrorKind::BadData,
                         "a record in more than " + std::to_string(maxFragments_) + " fragments");
                break;
            }
            inFragment_ = true;
        }
        const size_t take = std::min<size_t>(fragmentLeft_, input.size() - used);
        record_.append(input, used, take);
        used += take;
        fragmentLeft_ -= static_cast<uint32_t>(take);
        if (fragmentLeft_ > 0)
            break;
        inFragment_ = false;
        complete_ = lastFragment_;
    }
    input.erase(0, used);
    if (!refused_)
        return refused_.failure();
    return complete_ ? State::Complete : State::NeedMore;
}

std::string RecordReader::takeRecord() {
    std::string out = std::move(record_);
    record_.clear();
    complete_ = false;
    fragments_ = 0;
    return out;
}

std::string rpcCall(uint32_t xid, uint32_t program, uint32_t version, uint32_t procedure,
                    std::string_view args) {
    XdrWriter w;
    w.u32(xid).u32(0).u32(2).u32(program).u32(version).u32(procedure);
    w.u32(0).u32(0).u32(0).u32(0);  // credentials and verifier: AUTH_NONE, empty
    return w.bytes() + std::string(args);
}

Result<std::string_view> rpcReplyResults(std::string_view record, uint32_t xid) {
    XdrReader r(record);
    const uint32_t gotXid = r.u32();
    const uint32_t type = r.u32();
    if (!r.ok() || type != 1)
        return fail("an answer that is no RPC reply");
    if (gotXid != xid)
        return fail("a reply to another call (xid " + std::to_string(gotXid) + ", expected " +
                    std::to_string(xid) + ")");
    const uint32_t replyState = r.u32();
    if (replyState == 1) {
        const uint32_t reject = r.u32();
        return fail(reject == 0 ? "the call was refused: RPC version mismatch"
                                : "the call was refused: authentication error");
    }
    if (replyState != 0 || !r.ok())
        return fail("a malformed RPC reply");
    r.u32();        // verifier flavour
    r.opaque(400);  // verifier body (at most 400 bytes by the RPC rules)
    const uint32_t accept = r.u32();
    if (!r.ok())
        return fail("a malformed RPC reply");
    static const char* const kAccept[] = {"",
                                          "the program is not there",
                                          "the program version is not there",
                                          "the procedure is not there",
                                          "the server could not decode the arguments",
                                          "the server had a system error"};
    if (accept != 0)
        return fail(accept < 6 ? kAccept[accept]
                               : "an RPC reply with accept state " + std::to_string(accept));
    // Whatever follows the accept state is the procedure's results.
    return record.substr(record.size() - r.remaining());
}

}  // namespace benchcap::bus::lan
