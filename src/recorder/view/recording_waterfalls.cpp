#include "recorder/view/recording_waterfalls.h"

#include <algorithm>
#include <system_error>

#include "base/output_file.h"
#include "hardcopy/picture/png_encoder.h"

namespace benchcap::recorder {

void RecordingWaterfalls::take(const RecorderProgress& progress) {
    if (!progress.trace || progress.lastTrace < 1 || progress.lastTrace > kMaxRecordedTraces)
        return;
    auto& waterfall = waterfalls_[static_cast<std::size_t>(progress.lastTrace - 1)];
    if (!waterfall)
        waterfall = std::make_unique<trace::Waterfall>();
    waterfall->add(*progress.trace);
}

const trace::Waterfall* RecordingWaterfalls::of(int n) const {
    return n >= 1 && n <= kMaxRecordedTraces ? waterfalls_[static_cast<std::size_t>(n - 1)].get()
                                             : nullptr;
}

bool RecordingWaterfalls::empty() const {
    return std::none_of(waterfalls_.begin(), waterfalls_.end(),
                        [](const auto& waterfall) { return waterfall && !waterfall->empty(); });
}

void RecordingWaterfalls::clear() {
    for (auto& waterfall : waterfalls_)
        waterfall.reset();
}

Status RecordingWaterfalls::save(const std::filesystem::path& folder, QSize size,
                                 const trace::PlotStyle& style) const {
    for (std::size_t n = 0; n < waterfalls_.size(); ++n) {
        if (!waterfalls_[n] || waterfalls_[n]->empty())
            continue;
        const std::string stem = "trace" + std::to_string(n + 1) + "-waterfall";
        std::filesystem::path path = folder / (stem + ".png");
        std::error_code ec;
        for (int k = 2; std::filesystem::exists(path, ec); ++k)
            path = folder / (stem + "-" + std::to_string(k) + ".png");
        const std::optional<std::string> png = picture::encodeRgb32Png(
            waterfalls_[n]->image(size, style).convertToFormat(QImage::Format_RGB32));
        if (!png)
            return fail(ErrorKind::BadData, "the waterfall of trace " + std::to_string(n + 1) +
                                                " could not be encoded as PNG");
        Result<OutputFile> file = OutputFile::create(path);
        if (!file)
            return file.failure();
        if (Status written = file->write(*png); !written)
            return written;
        if (Status committed = file->commit(); !committed)
            return committed;
    }
    return {};
}

}  // namespace benchcap::recorder
