#include "processing/Processor.h"

#include "editing/PointShift.h"
#include "processing/RateConverter.h"
#include "processing/Resample.h"

#include <algorithm>
#include <cassert>
#include <cctype>

namespace cleavix::processing {

namespace {

bool parseWhole(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    for (size_t k = i; k < text.size(); ++k) {
        if (std::isdigit(static_cast<unsigned char>(text[k])) == 0) {
            return false;
        }
    }
    value = std::stoll(text);
    return true;
}

bool parseRate(const std::string& text, uint16_t channels, uint32_t& rate) {
    long long value = 0;
    if (!parseWhole(text, value)) {
        return false;
    }
    // No rate of 0 (nothing could play it), none so high that the bytes per second wrap round
    // in the file header.
    const long long highest = 0xFFFFFFFFLL / (channels == 2 ? 4 : 2);
    if (value < 1 || value > highest) {
        return false;
    }
    rate = uint32_t(value);
    return true;
}

} // namespace

bool rateTextValid(const std::string& text, uint16_t channels) {
    uint32_t rate = 0;
    return parseRate(text, channels, rate);
}

bool resampleRateValid(const std::string& text, uint32_t currentRate, uint16_t channels) {
    uint32_t rate = 0;
    if (!parseRate(text, channels, rate) || currentRate == 0) {
        return false;
    }
    const uint64_t wide = uint64_t(kMaxResampleRatio);
    return uint64_t(rate) <= uint64_t(currentRate) * wide && uint64_t(currentRate) <= uint64_t(rate) * wide;
}

void Processor::completeInPlace(editing::Done done) {
    const bool applied = editor_.edit().applied;
    editor_.finishEdit(applied);
    if (done) {
        done(applied);
    }
}

bool Processor::inPlace(Kind kind, uint32_t start, uint32_t end, uint8_t step, uint8_t both, editing::Done done) {
    auto& e = editor_.edit();
    const auto& f = editor_.store().format();
    e.opStart = start;
    e.opEnd = end;
    e.channelStep = step;
    e.bothChannels = both;
    e.fadeLeadIn = false;
    if (kind == Kind::Silence && e.opStart > 500u * f.channels) {
        e.opStart -= 500u * f.channels;
        e.fadeLeadIn = true;
    }
    editor_.beginOperation(kind == Kind::Silence ? "Silence" : "Reverse");
    try {
        const uint32_t backed = std::min(e.opEnd, f.dataLength) - std::min(e.opStart, f.dataLength);
        editor_.prepareBackup(10, e.opStart, backed);
    } catch (const std::exception&) {
        editor_.jobs().prompter().ask(jobs::MessageKind::Error, editing::kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    std::unique_ptr<jobs::Job> job;
    jobs::ProcessMode mode = jobs::ProcessMode::Silencing;
    if (kind == Kind::Silence) {
        job = std::make_unique<TSilenceThread>(editor_);
    } else {
        job = std::make_unique<TReverseThread>(editor_);
        mode = jobs::ProcessMode::Reversing;
    }
    return editor_.launch(std::move(job), editor_.firstMode(mode, true),
                          [this, done = std::move(done)] { completeInPlace(done); });
}

bool Processor::selectionProcess(Kind kind, editing::Done done) {
    if (!editor_.loaded() || editor_.jobs().busy()) {
        return false;
    }
    const auto& f = editor_.store().format();
    auto [a, b] = editor_.operationRange();
    a = f.frameStart(a);
    b = f.frameStart(b);
    if (b <= a) {
        return false;
    }
    if (f.channels == 2 && editor_.processChannel() != 3) {
        const uint32_t shift = editor_.processChannel() == 2 ? 2 : 0;
        return inPlace(kind, a + shift, b + shift, 2, 1, std::move(done));
    }
    return inPlace(kind, a, b, 1, f.channels == 2 ? 2 : 1, std::move(done));
}

bool Processor::segmentProcess(Kind kind, int index, editing::Done done) {
    auto& slicer = editor_.slicer();
    const auto& list = slicer.slicePoints();
    if (!editor_.loaded() || editor_.jobs().busy() || index < 0 || index > list.count()) {
        return false;
    }
    const auto& f = editor_.store().format();
    const uint32_t start = list.at(index).position;
    const uint32_t end = slicing::segmentEnd(list, index);
    if (f.channels == 2 && !slicer.channelMode().linked) {
        // One channel's segment: a second-channel point lies 2 bytes into its frame, and so does its end.
        const uint32_t shift = list.at(index).channel == slicing::kCodeFirst ? 0 : 2;
        const uint32_t s = f.frameStart(start) + shift;
        const uint32_t t = f.frameStart(end) + shift;
        if (t <= s) {
            return false;
        }
        return inPlace(kind, s, t, 2, 1, std::move(done));
    }
    const uint32_t s = f.frameStart(start);
    const uint32_t t = f.frameStart(end);
    if (t <= s) {
        return false;
    }
    return inPlace(kind, s, t, 1, f.channels == 2 ? 2 : 1, std::move(done));
}

bool Processor::silence(editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    return selectionProcess(Kind::Silence, std::move(done));
}
bool Processor::silenceSegment(int index, editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    return segmentProcess(Kind::Silence, index, std::move(done));
}
bool Processor::reverse(editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    return selectionProcess(Kind::Reverse, std::move(done));
}
bool Processor::reverseSegment(int index, editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    return segmentProcess(Kind::Reverse, index, std::move(done));
}

bool Processor::simpleProcess(std::unique_ptr<jobs::Job> job, jobs::ProcessMode mode, uint8_t code,
                              const char* name, editing::Done done) {
    const auto& f = editor_.store().format();
    auto [a, b] = editor_.operationRange();
    auto& e = editor_.edit();
    e.opStart = f.frameStart(a);
    e.opEnd = f.frameStart(b);
    e.channelStep = f.channels == 2 && editor_.processChannel() != 3 ? 2 : 1;
    e.bothChannels = f.channels == 2 && editor_.processChannel() == 3 ? 2 : 1;
    editor_.beginOperation(name);
    try {
        editor_.prepareBackup(code, e.opStart, e.opEnd - e.opStart);
    } catch (const std::exception&) {
        editor_.jobs().prompter().ask(jobs::MessageKind::Error, editing::kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    // Invert, normalise and quantise show what they do in the status line while they run.
    editor_.jobs().showStatus(jobs::processModeCaption(mode));
    return editor_.launch(std::move(job), editor_.firstMode(mode, true),
                          [this, done = std::move(done)] { completeInPlace(done); });
}

bool Processor::invert(editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    if (!editor_.loaded() || editor_.jobs().busy()) {
        return false;
    }
    return simpleProcess(std::make_unique<TInvertThread>(editor_), jobs::ProcessMode::Inverting, 1, "Invert",
                         std::move(done));
}

bool Processor::normalise(editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    long long percent = 0;
    if (!editor_.loaded() || editor_.jobs().busy() || !parseWhole(settings.normalisePercent, percent)) {
        return false;
    }
    NormaliseSettings s{int(std::clamp<long long>(percent, -1000000, 1000000)), settings.dcCentre};
    auto detection = settings.recutAfterNormalise ? std::make_shared<NormaliseDetection>() : nullptr;
    auto finish = [this, detection, done = std::move(done)](bool applied) {
        if (!applied || !settings.recutAfterNormalise) {
            if (done) {
                done(applied);
            }
            return;
        }
        if (detection->detector && editor_.store().stream().changes() == detection->mark) {
            // Made on the way from the normalised blocks: the search takes it.
            editor_.slicer().setLoadDetection(std::move(detection->detector));
        }
        // "Re-cut sample": a fresh search on the normalised audio, part of this operation, so
        // Undo takes the normalising back together with the points it replaced.
        editor_.holdPointRecords(true);
        const bool started = editor_.slicer().recut([this, done](const slicing::SearchOutcome&) {
            editor_.holdPointRecords(false);
            if (done) {
                done(true);
            }
        });
        if (!started) {
            editor_.holdPointRecords(false);
            if (done) {
                done(true);
            }
        }
    };
    return simpleProcess(std::make_unique<TNormThread>(editor_, s, detection), jobs::ProcessMode::Normalising, 1,
                         "Normalise", std::move(finish));
}

bool Processor::quantise(editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    if (!editor_.loaded() || editor_.jobs().busy()) {
        return false;
    }
    const int level = std::clamp(settings.quantiseLevel, 0, 8);
    return simpleProcess(std::make_unique<TQuantThread>(editor_, level), jobs::ProcessMode::Quantising, 10, "Quantise",
                         std::move(done));
}

bool Processor::adjustRate(const std::string& text) {
    assert(editor_.jobs().dispatcher().isMainThread());
    long long rate = 0;
    if (!editor_.loaded() || editor_.jobs().busy() || !parseWhole(text, rate) || rate <= 0 || rate > 0xFFFFFFFFLL) {
        return false;
    }
    editor_.adjustRate(uint32_t(rate));
    return true;
}

bool Processor::beginWholeSample(uint32_t length, const std::string& undoName) {
    auto& e = editor_.edit();
    e.opStart = 0;
    e.opEnd = length;
    editor_.beginOperation(undoName);
    try {
        editor_.prepareBackup(2, 0, length);
    } catch (const std::exception&) {
        editor_.jobs().prompter().ask(jobs::MessageKind::Error, editing::kMsgProcessingError, "", jobs::Buttons::Ok);
        return false;
    }
    return true;
}

bool Processor::resample(const std::string& text, editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    if (!editor_.loaded() || editor_.jobs().busy()) {
        return false;
    }
    auto& prompter = editor_.jobs().prompter();
    const auto& f = editor_.store().format();
    if (!resampleRateValid(text, f.sampleRate, f.channels)) {
        prompter.ask(jobs::MessageKind::Error, kMsgInvalidRate, "", jobs::Buttons::Ok);
        return false;
    }
    if (!RateConverter::available()) {
        prompter.ask(jobs::MessageKind::Error, kMsgNoResampler, "", jobs::Buttons::Ok);
        return false;
    }
    ResamplePlan plan;
    plan.fromRate = f.sampleRate;
    plan.toRate = uint32_t(std::stoull(text));
    plan.channels = f.channels;
    plan.frames = f.frames();
    plan.newFrames = resampledFrames(plan.frames, plan.fromRate, plan.toRate);
    if (plan.newFrames == 0 && plan.frames > 0) {
        // So low a rate that not one frame would be left: no sample at all is no resample.
        prompter.ask(jobs::MessageKind::Error, kMsgInvalidRate, "", jobs::Buttons::Ok);
        return false;
    }
    if (plan.toRate == plan.fromRate) {
        if (done) {
            done(true); // already at that rate: nothing to change, nothing to undo
        }
        return true;
    }
    // Before anything is touched: an upsample can grow the sample past the 32-bit positions.
    if (!editor_.fitsPositions(plan.newFrames * plan.blockAlign())) {
        return false;
    }
    if (!beginWholeSample(uint32_t(plan.frames * plan.blockAlign()), "Resample")) {
        return false;
    }
    editor_.jobs().showStatus(jobs::processModeCaption(jobs::ProcessMode::Resampling));
    return editor_.launch(
        std::make_unique<TResampleThread>(editor_, plan), editor_.firstMode(jobs::ProcessMode::Resampling, true),
        [this, plan, done = std::move(done)] {
            const bool applied = editor_.edit().applied;
            editor_.finishEdit(applied);
            if (!applied || editor_.failed()) {
                if (done) {
                    done(false);
                }
                return;
            }
            auto& format = editor_.store().format();
            auto& slicer = editor_.slicer();
            format.sampleRate = plan.toRate;
            format.bytesPerSecond = plan.toRate * format.blockAlign();
            format.dataLength = editor_.edit().scratchLength;
            const bool cursor = editor_.onlyCursor();
            const uint32_t a = scaleEdge(editor_.selectionStart(), plan);
            const uint32_t b = scaleEdge(editor_.selectionEnd(), plan);
            editor_.setupSelections(a, cursor ? a : b);
            scalePoints(slicer.candidates(), plan);
            slicer.setLoop(scaleEdge(slicer.left(), plan), scaleEdge(slicer.right(), plan));
            slicer.rebuild();
            if (done) {
                done(true);
            }
        });
}

bool Processor::convertChannels(int choice, editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    if (!editor_.loaded() || editor_.jobs().busy()) {
        return false;
    }
    const auto& f = editor_.store().format();
    if (f.channels == 2 && (choice < 0 || choice > 2)) {
        return false;
    }
    const uint32_t length = f.dataLength;
    if (f.channels == 1 && !editor_.fitsPositions(uint64_t(length) * 2)) {
        return false;
    }
    if (!beginWholeSample(length, "Convert Channels")) {
        return false;
    }
    const uint16_t from = f.channels;
    editor_.jobs().showStatus(jobs::processModeCaption(jobs::ProcessMode::Converting));
    return editor_.launch(
        std::make_unique<TChannelThread>(editor_, from == 2 ? choice : 0),
        editor_.firstMode(jobs::ProcessMode::Converting, true), [this, from, done = std::move(done)] {
            const bool applied = editor_.edit().applied;
            editor_.finishEdit(applied);
            if (applied) {
                auto& format = editor_.store().format();
                auto& slicer = editor_.slicer();
                const uint16_t to = from == 1 ? 2 : 1;
                format.channels = to;
                format.bytesPerSecond = format.sampleRate * format.blockAlign();
                format.dataLength = editor_.edit().scratchLength;
                // Selection marks follow the audio: doubled into stereo, halved into mono.
                auto [a, b] = std::make_pair(editor_.selectionStart(), editor_.selectionEnd());
                const bool cursor = editor_.onlyCursor();
                a = to == 2 ? a * 2 : format.frameStart(a / 2);
                b = to == 2 ? b * 2 : format.frameStart(b / 2);
                editor_.setupSelections(a, cursor ? a : b);
                slicer.channelMode().linked = true;
                editor_.setProcessChannel(3);
                // The old points do not survive a conversion: a fresh search places new ones.
                slicer.candidates().clearPoints();
                editing::settleMarkers(slicer.candidates(), format.dataLength);
                slicer.setLoop(0, format.dataLength);
                slicer.rebuild();
                if (editor_.searchThen(done)) {
                    return;
                }
            }
            if (done) {
                done(applied);
            }
        });
}

bool Processor::stripSilence(editing::Done done) {
    assert(editor_.jobs().dispatcher().isMainThread());
    if (editor_.jobs().busy()) {
        return false;
    }
    const auto& f = editor_.store().format();
    if (f.channels == 2 && editor_.processChannel() != 3 &&
        editor_.jobs().prompter().ask(jobs::MessageKind::Warning, kMsgStripBothChannels, "",
                                      jobs::Buttons::OkCancel) != jobs::Answer::Ok) {
        return false;
    }
    if (!editor_.loaded() || editor_.slicer().right() - editor_.slicer().left() <= 50) {
        return false;
    }
    settings.stripThreshold = std::clamp(settings.stripThreshold, 1, 5000);
    settings.stripGap = std::clamp(settings.stripGap, 10, 15000);
    if (settings.stripMode < 0 || settings.stripMode > 2) {
        return false; // no such mode
    }
    const int mode = settings.stripMode;
    auto [a, b] = editor_.operationRange();
    auto& e = editor_.edit();
    e.opStart = f.frameStart(a);
    e.opEnd = f.frameStart(b);
    const slicing::CandidateSnapshot oldPoints = editor_.slicer().snapshot();
    editor_.beginOperation("Strip Silence");
    try {
        editor_.prepareBackup(11, e.opStart, e.opEnd - e.opStart);
    } catch (const std::exception&) {
        editor_.jobs().prompter().ask(jobs::MessageKind::Error, kMsgStripNoFile, "", jobs::Buttons::Ok);
        return false;
    }
    auto outcome = std::make_shared<StripOutcome>();
    const uint32_t opStart = e.opStart;
    editor_.jobs().showStatus(jobs::processModeCaption(jobs::ProcessMode::RemovingSilence));
    return editor_.launch(
        std::make_unique<Silence>(editor_, settings.stripThreshold, settings.stripGap, *outcome),
        editor_.firstMode(jobs::ProcessMode::RemovingSilence, true),
        [this, outcome, oldPoints, mode, opStart, done = std::move(done)] {
            const bool applied = editor_.edit().applied;
            editor_.finishEdit(applied);
            if (!applied && editor_.failed()) {
                if (done) {
                    done(false);
                }
                return;
            }
            if (!applied) {
                if (outcome->silences.empty() && !outcome->stopped && editor_.undoEnabled()) {
                    editor_.setUndoAvailable(false); // nothing was removed: nothing to undo
                }
                if (done) {
                    // No silence found is a finished run that had nothing to remove.
                    done(!outcome->stopped && outcome->silences.empty());
                }
                return;
            }
            auto& format = editor_.store().format();
            auto& slicer = editor_.slicer();
            const uint32_t newLength = editor_.edit().scratchLength;
            format.dataLength = newLength;
            auto& list = slicer.candidates();
            const auto& silences = outcome->silences;
            if (mode == 0) {
                list.clearPoints();
                list.setCount(0);
                const bool one = format.channels == 1 || slicer.channelMode().linked;
                const int32_t strength = slicer.addAtCurrentLength ? int32_t(slicer.threshold() + 10) : 32640;
                uint32_t before = 0;
                for (const Span& s : silences) {
                    const uint32_t join = format.frameStart(s.start - before);
                    before += s.end - s.start;
                    if (join == 0 || join >= newLength) {
                        continue;
                    }
                    slicing::SlicePoint p;
                    p.enabled = 1;
                    p.locked = 1;
                    p.strength = strength;
                    if (one) {
                        p.position = join;
                        p.channel = slicing::kCodeSecondOrMono;
                        list.append(p);
                    } else {
                        p.position = join;
                        p.channel = slicing::kCodeFirst;
                        list.append(p);
                        p.position = join + 2;
                        p.channel = slicing::kCodeSecondOrMono;
                        if (p.position < newLength) {
                            list.append(p);
                        }
                    }
                }
            } else if (mode == 1) {
                // The old points in the kept audio move back by the silence removed before them.
                std::copy(oldPoints.entries.begin(), oldPoints.entries.end(), list.entries().begin());
                list.setCount(oldPoints.count);
                int out = 1;
                for (int k = 1; k <= list.count(); ++k) {
                    slicing::SlicePoint p = list.at(k);
                    uint32_t removedBefore = 0;
                    bool dropped = false;
                    for (const Span& s : silences) {
                        if (p.position >= s.end) {
                            removedBefore += s.end - s.start;
                        } else if (p.position >= s.start) {
                            dropped = true;
                            break;
                        }
                    }
                    if (dropped) {
                        continue;
                    }
                    p.position -= removedBefore;
                    list.at(out++) = p;
                }
                list.setCount(out - 1);
            }
            editing::settleMarkers(list, newLength);
            editor_.setupSelections(opStart, editor_.edit().newEnd);
            slicer.setLoop(0, newLength);
            slicer.rebuild();
            if (mode == 2) {
                // The re-cut belongs to this operation: its points are not a record of their own.
                editor_.holdPointRecords(true);
                if (slicer.recut([this, done](const slicing::SearchOutcome&) {
                        editor_.holdPointRecords(false);
                        if (done) {
                            done(true);
                        }
                    })) {
                    return;
                }
                editor_.holdPointRecords(false);
            } else if (mode == 0 && slicer.smooth) {
                slicer.flags().refineOnly = true;
                slicer.requestSearch();
                if (slicer.startSliceSearch([done](const slicing::SearchOutcome&) {
                        if (done) {
                            done(true);
                        }
                    })) {
                    return;
                }
                slicer.flags().refineOnly = false;
            }
            if (done) {
                done(true);
            }
        });
}

} // namespace cleavix::processing
