#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace benchcap::bus::lan {

// XDR encoding (big-endian 32-bit words, opaque data padded to four bytes) for the few
// ONC RPC calls Benchcap makes: the portmapper's GETPORT and the VXI-11 core channel.
class XdrWriter {
  public:
    XdrWriter& u32(uint32_t value);
    XdrWriter& opaque(std::string_view bytes);  // length, bytes, padding
    const std::string& bytes() const { return out_; }

  private:
    std::string out_;
};

// Reads XDR from a received record. A read past the end or an opaque longer than its limit
// makes the reader failed (sticky); values read after that are 0 / empty.
class XdrReader {
  public:
    explicit XdrReader(std::string_view data) : data_(data) {}
    uint32_t u32();
    std::string_view opaque(uint32_t maxBytes);
    bool ok() const { return ok_; }
    size_t remaining() const { return data_.size() - at_; }

  private:
    std::string_view data_;
    size_t at_ = 0;
    bool ok_ = true;
};

// Puts a message into the record marking of RPC over TCP: one fragment, marked last.
std::string markRecord(std::string_view message);

// Takes records out of a byte stream (RPC record marking: fragments of up to 2^31-1 bytes,
// each behind a 4-byte header whose top bit marks the last one). Input from the network:
// a record larger than `maxRecordBytes` or with more than `maxFragments` fragments is
// refused as soon as its header says so, so memory stays bounded whatever a peer announces.
class RecordReader {
  public:
    enum class State { NeedMore, Complete };
    explicit RecordReader(uint32_t maxRecordBytes, int maxFragments = 4096)
        : maxBytes_(maxRecordBytes), maxFragments_(maxFragments) {}
    // Consumes bytes from the front of `input`; Complete when a whole record is there (take
    // it with takeRecord(); the bytes behind it stay in `input`). A refused record fails
    // (kind BadData), and so does every later feed.
    Result<State> feed(std::string& input);
    std::string takeRecord();

  private:
    uint32_t maxBytes_;
    int maxFragments_;
    std::string record_;
    uint32_t fragmentLeft_ = 0;
    bool inFragment_ = false;
    bool lastFragment_ = false;
    int fragments_ = 0;
    bool complete_ = false;
    Status refused_;
};

inline constexpr uint32_t kPortmapProgram = 100000;
inline constexpr uint32_t kPortmapVersion = 2;
inline constexpr uint32_t kPortmapGetPort = 3;
inline constexpr uint32_t kIpProtoTcp = 6;

// An RPC call message (version 2, no authentication) around XDR-encoded arguments.
std::string rpcCall(uint32_t xid, uint32_t program, uint32_t version, uint32_t procedure,
                    std::string_view args);
// The results of an accepted, successful reply to call `xid`; otherwise what went wrong
// ("reply to another call (xid 7, expected 8)", "the program is not there", ...).
Result<std::string_view> rpcReplyResults(std::string_view record, uint32_t xid);

}  // namespace benchcap::bus::lan
