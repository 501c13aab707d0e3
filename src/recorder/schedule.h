#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace benchcap::recorder {

// One row of a recording: what it takes and how often.
struct ScheduleRow {
    int trace = 0;  // 0: a hardcopy, 1..8: that trace
    int64_t intervalMicros = 0;
};

// The due times of a recording on the bus clock. Item k of a row is due at start + k*T, so
// a late item never shifts the ones after it (no drift over a night). The rows share one
// bus: the caller takes the row that is due first, then says when that item ended.
class Schedule {
  public:
    Schedule(std::vector<ScheduleRow> rows, int64_t startMicros);

    struct Due {
        std::size_t row = 0;
        int64_t dueMicros = 0;
    };
    // The row due first; a tie goes to the row listed first (the hardcopy before the traces).
    Due next() const;

    // Row `row` is taken now: its slot is the latest one due by `nowMicros` (the bus was held
    // by other rows past its due time). Returns the slots that passed unused meanwhile.
    int64_t take(std::size_t row, int64_t nowMicros);
    // The item of `row` ended at `endMicros`: its next slot is the first due at or after that
    // moment, never one that already passed. Returns the slots missed while it ran.
    int64_t finish(std::size_t row, int64_t endMicros);

    const std::vector<ScheduleRow>& rows() const { return rows_; }
    int64_t dueMicros(std::size_t row) const;

  private:
    // The first slot index of `row` whose due time is at or after `micros`.
    int64_t slotAtOrAfter(std::size_t row, int64_t micros) const;

    std::vector<ScheduleRow> rows_;
    std::vector<int64_t> nextSlot_;
    int64_t start_;
};

}  // namespace benchcap::recorder
