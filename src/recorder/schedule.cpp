#include "recorder/schedule.h"

#include <algorithm>
#include <cassert>

namespace benchcap::recorder {

Schedule::Schedule(std::vector<ScheduleRow> rows, int64_t startMicros)
    : rows_(std::move(rows)), nextSlot_(rows_.size(), 0), start_(startMicros) {
    assert(!rows_.empty());
    for ([[maybe_unused]] const ScheduleRow& row : rows_)
        assert(row.intervalMicros > 0);
}

int64_t Schedule::dueMicros(std::size_t row) const {
    return start_ + nextSlot_[row] * rows_[row].intervalMicros;
}

Schedule::Due Schedule::next() const {
    Due first{0, dueMicros(0)};
    for (std::size_t row = 1; row < rows_.size(); ++row) {
        if (const int64_t due = dueMicros(row); due < first.dueMicros)
            first = Due{row, due};
    }
    return first;
}

int64_t Schedule::slotAtOrAfter(std::size_t row, int64_t micros) const {
    const int64_t interval = rows_[row].intervalMicros;
    const int64_t since = micros - start_;
    if (since <= 0)
        return 0;
    return (since + interval - 1) / interval;
}

int64_t Schedule::take(std::size_t row, int64_t nowMicros) {
    const int64_t interval = rows_[row].intervalMicros;
    const int64_t latest = nowMicros > start_ ? (nowMicros - start_) / interval : 0;
    const int64_t skipped = std::max<int64_t>(0, latest - nextSlot_[row]);
    nextSlot_[row] += skipped;
    return skipped;
}

int64_t Schedule::finish(std::size_t row, int64_t endMicros) {
    const int64_t taken = nextSlot_[row];
    nextSlot_[row] = std::max(taken + 1, slotAtOrAfter(row, endMicros));
    return nextSlot_[row] - taken - 1;
}

}  // namespace benchcap::recorder
