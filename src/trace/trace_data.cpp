#include "trace/trace_data.h"

#include <bit>
#include <cstring>

namespace benchcap::trace {

std::vector<float> DecodeReal32(std::span<const uint8_t> payload) {
    std::vector<float> values(payload.size() / 4);
    if constexpr (std::endian::native == std::endian::little) {
        if (!values.empty()) {
            std::memcpy(values.data(), payload.data(), values.size() * 4);
        }
    } else {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const uint8_t* p = payload.data() + 4 * i;
            const uint32_t u =
                uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
            values[i] = std::bit_cast<float>(u);
        }
    }
    return values;
}

std::vector<float> DecodeReal32(std::span<const std::byte> payload) {
    return DecodeReal32(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(payload.data()), payload.size()));
}

AnalyzerAxis AnalyzerAxis::Of(std::size_t count, double centre, double span, double sweepTime,
                              int32_t pointsPerSymbol) {
    AnalyzerAxis axis;
    axis.count = count;
    // n = hi - lo; a single value (n = 0) sits at the start of the axis.
    const double n = count > 1 ? static_cast<double>(count - 1) : 1.0;
    if (span != 0) {
        axis.start = centre - span / 2;
        axis.scale = span;
        axis.divisor = n;
    } else if (sweepTime != 0) {
        axis.scale = sweepTime;
        axis.divisor = n;
    } else {
        axis.divisor = pointsPerSymbol > 0 ? static_cast<double>(pointsPerSymbol) : 1.0;
    }
    return axis;
}

}  // namespace benchcap::trace
