#pragma once

// Header parsing and the record walker of the metafile player. Nothing here trusts
// the file: every length and count is checked against the bytes actually present.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace benchcap::picture {

struct MetafileHeader {
    bool placeable = false;
    bool checksumOk = true;  // placeable header checksum; a wrong one is tolerated
    // Placeable bounding box in logical units, and logical units per inch.
    int left = 0, top = 0, right = 0, bottom = 0;
    int unitsPerInch = 0;
    size_t standardHeaderOffset = 0;
    size_t recordsOffset = 0;
    uint16_t objectCount = 0;  // object table size the file declares
};

// True when the bytes start like a Windows metafile (placeable key, or a standard
// header of type 1 or 2 and size 9 words).
bool looksLikeMetafile(std::string_view bytes);

// The error says why the bytes are no metafile.
Result<MetafileHeader> parseMetafileHeader(std::string_view bytes);

// Whether the metafile holds a text record the player would reach (the walk ends where
// the player's does); false for bytes that are no metafile.
bool metafileDrawsText(std::string_view bytes);

// Bounds-checked view of one record's parameters. Reads past the end give 0; callers
// check `has()` before trusting a count.
class Params {
  public:
    explicit Params(std::string_view bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    size_t words() const { return bytes_.size() / 2; }
    bool has(size_t wordCount) const { return wordCount <= words(); }
    uint16_t u16(size_t word) const;
    int16_t i16(size_t word) const { return static_cast<int16_t>(u16(word)); }
    uint32_t u32(size_t word) const;  // two words, low word first
    uint8_t u8(size_t byteOffset) const;
    // Up to `count` bytes from `byteOffset`, fewer when the record ends first.
    std::string_view bytes(size_t byteOffset, size_t count) const;
    std::string_view all() const { return bytes_; }

  private:
    std::string_view bytes_;
};

struct Record {
    uint16_t function = 0;
    size_t offset = 0;  // of the record in the file
    Params params{std::string_view{}};
};

// Walks the records after the header. Stops at META_EOF, at the end of the data, at a
// record whose size is below the minimum of 3 words or runs past the data, and after
// kMaxRecords records.
class RecordWalker {
  public:
    enum class End { Running, EofRecord, EndOfData, Truncated, BadSize, TooMany };
    static constexpr size_t kMaxRecords = 4'000'000;

    RecordWalker(std::string_view bytes, size_t offset) : bytes_(bytes), offset_(offset) {}
    bool next(Record& record);
    End end() const { return end_; }
    size_t offset() const { return offset_; }
    size_t count() const { return count_; }
    // A sentence for the end of the walk, empty for a regular end.
    std::string endProblem() const;

  private:
    std::string_view bytes_;
    size_t offset_;
    size_t count_ = 0;
    End end_ = End::Running;
};

}  // namespace benchcap::picture
