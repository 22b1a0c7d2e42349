#include "slicing/SegmentExport.h"

#include "slicing/WaveSmoother.h"

#include <algorithm>

namespace cleavix::slicing {

namespace {

int digitsOf(int value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

} // namespace

std::vector<Segment> loopSegments(const SlicePointList& list, uint32_t left, uint32_t right,
                                  const sample::SampleFormat& format, int channel) {
    int64_t from = 0;
    int64_t to = 0;
    int code = 0; // 0: every point
    if (channel == 0) {
        from = format.frameStart(left);
        to = format.frameStart(right);
    } else if (channel == 1) {
        code = kCodeFirst;
        from = left & ~3u;
        to = int64_t(right & ~3u) - 2;
    } else {
        code = kCodeSecondOrMono;
        from = int64_t(left & ~3u) + 2;
        to = right & ~3u;
    }
    // Every segment ends where the next begins and the last at R (on a whole frame), so the
    // segments of a loop add up to the loop exactly. One channel of a stereo file ends on its own
    // sample of the frame at R.
    const int64_t lastEnd = channel == 0 ? to : to + 2;
    std::vector<int64_t> bounds{from};
    for (int k = 1; k <= list.count(); ++k) {
        const SlicePoint& p = list.at(k);
        if (code != 0 && p.channel != code) {
            continue;
        }
        const int64_t at = channel == 0 ? int64_t(format.frameStart(p.position)) : int64_t(p.position);
        if (at > from && at < to) {
            bounds.push_back(at);
        }
    }
    bounds.push_back(lastEnd);
    std::vector<Segment> segments;
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        int64_t bytes = std::max<int64_t>(0, bounds[i + 1] - bounds[i]);
        if (channel != 0) {
            bytes /= 2; // one channel of the frames covered
        }
        segments.push_back({uint32_t(std::max<int64_t>(0, bounds[i])), uint32_t(bytes)});
    }
    return segments;
}

std::string segmentFileName(const std::string& chosen, int number, int listCount, const std::string& suffix) {
    // The extension is the file name's last 4 characters (".wav", ".aif"), or 5 for one such as
    // ".aiff", so that the files keep the chosen type. A name without one is numbered at its end:
    // cutting characters off it would number the folder, or put the digits first.
    size_t extLength = 0;
    const size_t slash = chosen.find_last_of('/');
    const size_t dot = chosen.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        (chosen.size() - dot == 4 || chosen.size() - dot == 5)) {
        extLength = chosen.size() - dot;
    }
    const std::string base = chosen.substr(0, chosen.size() - extLength);
    const std::string ext = chosen.substr(chosen.size() - extLength);
    std::string digits = std::to_string(number);
    const size_t width = size_t(digitsOf(listCount + 1));
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), '0');
    }
    return base + digits + suffix + ext;
}

std::vector<ExportFile> planSegmentsInLoop(const SlicePointList& list, uint32_t left, uint32_t right,
                                           const sample::SampleFormat& format, const ChannelMode& mode,
                                           const std::string& chosenName) {
    std::vector<std::pair<int, std::string>> channels;
    if (format.channels != 2 || mode.linked) {
        channels.push_back({0, ""});
    } else {
        if (mode.selection != 2) {
            channels.push_back({1, "L"});
        }
        if (mode.selection != 1) {
            channels.push_back({2, "R"});
        }
    }
    std::vector<ExportFile> files;
    for (const auto& [channel, suffix] : channels) {
        int number = 0;
        for (const Segment& s : loopSegments(list, left, right, format, channel)) {
            ExportFile file;
            file.name = segmentFileName(chosenName, ++number, list.count(), suffix);
            file.start = s.start;
            file.length = s.length;
            file.layout = (format.channels == 2 && channel == 0) ? sample::LayoutStereo : sample::LayoutMono;
            file.smooth = true;
            files.push_back(file);
        }
    }
    return files;
}

ExportFile planSelectedSegment(uint32_t selStart, uint32_t selEnd, const sample::SampleFormat& format,
                               const ChannelMode& mode, bool upperHalf, const std::string& name) {
    ExportFile file;
    file.name = name;
    const uint32_t bytes = selEnd > selStart ? selEnd - selStart : 0;
    if (format.channels == 2 && !mode.linked) {
        file.start = (selStart & ~3u) + (upperHalf ? 0 : 2);
        file.length = (bytes / 2) & ~3u;
        file.layout = sample::LayoutMono;
    } else {
        file.start = format.frameStart(selStart);
        file.length = bytes - bytes % format.blockAlign();
        file.layout = format.channels == 2 ? sample::LayoutStereo : sample::LayoutMono;
    }
    return file;
}

ExportFile planSegmentAt(const SlicePointList& list, int index, const sample::SampleFormat& format,
                         const ChannelMode& mode, const std::string& name) {
    const SlicePoint& p = list.at(index);
    return planSelectedSegment(p.position, segmentEnd(list, index), format, mode, p.channel == kCodeFirst, name);
}

ExportFile planRegion(uint32_t left, uint32_t right, const sample::SampleFormat& format, const std::string& name) {
    ExportFile file;
    file.name = name;
    file.start = format.frameStart(left);
    // Whole frames: 4 bytes in stereo, 2 in mono, so a mono loop over the whole sample keeps its
    // last sample.
    const uint32_t bytes = right > left ? right - left : 0;
    file.length = bytes - bytes % format.blockAlign();
    file.layout = format.channels == 2 ? sample::LayoutStereo : sample::LayoutMono;
    return file;
}

sample::WriteResult writeExportFile(const sample::SampleStore& store, const ExportFile& file, uint8_t saveBits,
                                    int smoothLevel, const sample::BlockProgress& progress) {
    const sample::SampleFormat& format = store.format();
    TWaveSmoother::Settings settings;
    settings.input = &store.stream();
    settings.start = file.start;
    settings.length = file.length;
    settings.channels = file.layout == sample::LayoutStereo ? 2 : 1;
    settings.step = (file.layout == sample::LayoutMono && format.channels == 2) ? 2 : 1;
    settings.level = file.smooth ? smoothLevel : 0;
    TWaveSmoother smoother(settings);
    sample::WriteRequest request;
    request.fileName = file.name;
    request.start = file.start;
    request.length = uint32_t(smoother.outputBytes());
    request.layout = file.layout;
    request.sampleChannels = format.channels;
    request.saveBits = saveBits;
    request.sampleRate = format.sampleRate;
    return sample::WriteSplit(request, store.stream(), &smoother, progress);
}

void ExportWorker::run(jobs::JobContext& context) {
    const double count = double(files_.size());
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_.size() > 1) {
            context.setFiles(int(i) + 1, int(files_.size()));
        }
        sample::BlockProgress progress;
        progress.report = [&](uint64_t done, uint64_t total) {
            const double part = total == 0 ? 1.0 : double(done) / double(total);
            context.setProgress(double(i) + part, count, 0, 100);
        };
        const sample::WriteResult result = writeExportFile(store_, files_[i], saveBits_, smoothLevel_, progress);
        if (result.ok) {
            outcome_.written.push_back(files_[i].name);
        } else {
            outcome_.failed.push_back(files_[i].name + ": " + result.error);
        }
        if (context.stopRequested()) {
            outcome_.aborted = true;
            return;
        }
    }
}

} // namespace cleavix::slicing
