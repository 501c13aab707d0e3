#pragma once

// Large and hostile HP-GL inputs shared by the renderer and render benchmarks.
#include <string>

namespace benchcap::bench {

// About 16 MB of `unit` after `head`.
inline std::string fill16(const std::string& head, const std::string& unit) {
    std::string s = head;
    s.reserve(16u << 20);
    while (s.size() + unit.size() <= (16u << 20))
        s += unit;
    return s;
}

// A polygon of `spikes` full-height spikes: every scan line crosses all its edges.
inline std::string spikyPolygon(int spikes) {
    std::string s = "PU0,0;PM0;PD";
    for (int i = 0; i < spikes; ++i)
        s += std::to_string(i * 60) + ",7650," + std::to_string(i * 60 + 30) + ",0,";
    s.back() = ';';
    return s + "PM2;FP;";
}

}  // namespace benchcap::bench
