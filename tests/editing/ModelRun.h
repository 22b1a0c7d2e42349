#pragma once
// The randomised comparison of the engine with the plain model: random sequences of edits,
// processes, point edits, undo and redo on small samples, compared after every step.
#include "EditModel.h"
#include "EditTestKit.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

namespace cleavix::test::model {

class ModelRun {
public:
    ModelRun(uint32_t seed, bool undo) : seed_(seed), rng_(seed), undo_(undo), bench_(settings(undo)) {}

    // Runs `steps` random steps; returns an empty string or the first difference.
    std::string run(int steps) {
        State& m = model_;
        m.channels = rng_() % 2 ? 2 : 1;
        const size_t frames = 40 + rng_() % 500;
        m.words = signal(frames * m.channels);
        m.rate = 44100;
        if (!bench_.loadSamples(m.words, m.channels, m.rate)) {
            return "load failed";
        }
        m.left = 0;
        m.right = m.bytes();
        bench_.s().settings().scanOnLoad = false;
        for (int step = 0; step < steps; ++step) {
            std::string what;
            const std::string error = oneStep(what);
            if (!error.empty()) {
                return describe(step, what, error);
            }
            const std::string diff = compare();
            if (!diff.empty()) {
                return describe(step, what, diff);
            }
        }
        return {};
    }

private:
    static session::Settings settings(bool undo) {
        session::Settings s;
        s.enableUndo = undo;
        s.scanOnLoad = false;
        return s;
    }

    std::string describe(int step, const std::string& what, const std::string& error) const {
        std::ostringstream out;
        out << "seed " << seed_ << (undo_ ? "" : " (undo off)") << ", step " << step << " (" << log_ << what
            << "): " << error;
        return out.str();
    }

    uint32_t pick(uint32_t n) { return n == 0 ? 0 : uint32_t(rng_() % n); }

    std::vector<int16_t> signal(size_t count) {
        std::vector<int16_t> w(count);
        for (size_t i = 0; i < count;) {
            const size_t run = std::min(count - i, size_t(20 + pick(200)));
            const int kind = int(pick(3));
            for (size_t k = 0; k < run; ++k, ++i) {
                w[i] = kind == 0 ? int16_t(0) : kind == 1 ? int16_t(int(pick(7)) - 3) : int16_t(int(pick(60001)) - 30000);
            }
        }
        if (pick(4) == 0 && count > 0) {
            w[pick(uint32_t(count))] = -32768; // the edge of the range
        }
        return w;
    }

    editing::Editor& editor() { return bench_.editor(); }
    slicing::Slicer& slicer() { return bench_.slicer(); }

    // Selection on both sides: a cursor, or two marks (even, not always on frames).
    void chooseSelection() {
        const uint32_t len = model_.bytes();
        uint32_t a = pick(len + 1) & ~1u;
        uint32_t b = pick(4) == 0 ? a : pick(len + 1) & ~1u;
        editor().setupSelections(a, b);
        cursor_ = b == 0 || a == b;
        selStart_ = cursor_ ? a : std::min(a, b);
        selEnd_ = cursor_ ? a : std::max(a, b);
    }
    std::pair<uint32_t, uint32_t> range() const {
        if (cursor_) {
            return {0, model_.bytes()};
        }
        return {model_.frame(selStart_), model_.frame(selEnd_)};
    }
    bool allChannels() const { return model_.channels == 1 || channel_ == 3; }
    int oneChannelWord() const { return allChannels() ? -1 : channel_ - 1; }

    // Records the step for the undo model: `before` becomes what Undo returns to.
    void recorded(const State& before) {
        history_.valid = true;
        history_.other = before;
        history_.wholeSample = false;
    }

    std::string expect(bool engineOk, bool modelOk) {
        if (engineOk != modelOk) {
            return std::string("engine ") + (engineOk ? "ran" : "refused") + ", model " + (modelOk ? "runs" : "refuses");
        }
        return {};
    }

    std::string oneStep(std::string& what);
    std::string compare();

    uint32_t seed_;
    std::mt19937 rng_;
    bool undo_;
    EditBench bench_;
    State model_;
    History history_;
    std::optional<Clip> clip_;
    uint8_t channel_ = 3;
    bool linked_ = true;
    bool cursor_ = true;
    uint32_t selStart_ = 0;
    uint32_t selEnd_ = 0;
    std::string log_;
};

inline std::string ModelRun::compare() {
    const State& m = model_;
    const auto& f = bench_.s().format();
    if (f.channels != m.channels || f.sampleRate != m.rate || f.dataLength != m.bytes()) {
        return "format: engine " + std::to_string(f.channels) + " ch " + std::to_string(f.sampleRate) + " Hz " +
               std::to_string(f.dataLength) + " bytes, model " + std::to_string(m.channels) + " ch " +
               std::to_string(m.rate) + " Hz " + std::to_string(m.bytes()) + " bytes";
    }
    const auto words = bench_.samples();
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] != m.words[i]) {
            return "byte " + std::to_string(i * 2) + ": engine " + std::to_string(words[i]) + ", model " +
                   std::to_string(m.words[i]);
        }
    }
    const auto& c = slicer().candidates();
    if (c.count() != int(m.points.size())) {
        return "point count: engine " + std::to_string(c.count()) + ", model " + std::to_string(m.points.size());
    }
    for (int k = 1; k <= c.count(); ++k) {
        const auto& p = c.at(k);
        const Point& q = m.points[size_t(k - 1)];
        if (p.position != q.position || (p.enabled != 0) != q.enabled || (p.locked != 0) != q.locked ||
            p.channel != q.channel) {
            auto text = [](uint32_t pos, bool en, bool lo, int ch) {
                return std::to_string(pos) + (en ? " enabled" : "") + (lo ? " locked" : "") + " code " +
                       std::to_string(ch);
            };
            return "point " + std::to_string(k) + ": engine " +
                   text(p.position, p.enabled != 0, p.locked != 0, p.channel) + ", model " +
                   text(q.position, q.enabled, q.locked, q.channel);
        }
    }
    if (c.endMarker().position != m.bytes()) {
        return "end marker at " + std::to_string(c.endMarker().position);
    }
    if (slicer().left() != m.left || slicer().right() != m.right) {
        return "locators: engine " + std::to_string(slicer().left()) + ".." + std::to_string(slicer().right()) +
               ", model " + std::to_string(m.left) + ".." + std::to_string(m.right);
    }
    if (bench_.workFiles("CXRND") != 0) {
        return "a scratch file outlived its operation";
    }
    // The store, the undo file, the peak table and the table an undo may bring back.
    if (bench_.workFiles("CXT") != 4) {
        return "working files: " + std::to_string(bench_.workFiles("CXT")) + " CXT files";
    }
    return {};
}

inline std::string ModelRun::oneStep(std::string& what) {
    State& m = model_;
    const State before = m;
    const uint32_t len = m.bytes();
    auto& proc = bench_.processor();
    const int op = int(pick(undo_ ? 22 : 19));
    auto note = [&](const std::string& text) {
        what = text;
        log_ += text.substr(0, text.find(' ')) + " ";
        if (log_.size() > 400) {
            log_.erase(0, log_.size() - 400);
        }
    };
    switch (op) {
    case 0: { // cut
        chooseSelection();
        note("cut " + std::to_string(selStart_) + ".." + std::to_string(selEnd_));
        const bool ran = bench_.run([&](editing::Done d) { return editor().cut(std::move(d)); });
        const bool ok = !cursor_ && allChannels();
        if (ok) {
            const uint32_t a = m.frame(selStart_);
            const uint32_t b = m.frame(selEnd_);
            replace(m, a, b, {});
            recorded(before);
        }
        return expect(ran, ok);
    }
    case 1: { // copy
        chooseSelection();
        note("copy");
        const bool ran = bench_.run([&](editing::Done d) { return editor().copy(std::move(d)); });
        const auto [a, b] = range();
        Clip c;
        c.channels = allChannels() ? m.channels : 1;
        for (uint32_t w = a / 2; w < b / 2; ++w) {
            if (allChannels() || int(w % 2) == channel_ - 1) {
                c.words.push_back(m.words[w]);
            }
        }
        clip_ = c;
        return expect(ran, true);
    }
    case 2:
    case 3: { // paste and keep
        chooseSelection();
        const int choice = int(pick(3));
        note("paste-keep " + std::to_string(selStart_) + ".." + std::to_string(selEnd_) + " choice " +
             std::to_string(choice));
        const bool ran = bench_.run([&](editing::Done d) { return editor().pasteKeep(choice, std::move(d)); });
        if (!clip_) {
            return expect(ran, false);
        }
        const uint32_t a = m.frame(selStart_);
        const uint32_t b = cursor_ ? a : m.frame(selEnd_);
        std::vector<int16_t> in;
        const auto& cw = clip_->words;
        if (clip_->channels == m.channels) {
            in = cw;
        } else if (clip_->channels == 2) {
            for (size_t i = 0; i + 1 < cw.size(); i += 2) {
                in.push_back(choice == 0 ? cw[i] : choice == 1 ? cw[i + 1] : int16_t((cw[i] + cw[i + 1]) / 2));
            }
        } else {
            for (size_t i = 0; i < cw.size(); ++i) {
                // The channel not pasted keeps what the replaced range held there.
                const bool inside = a + (i + 1) * 4 <= b;
                const int16_t oldL = inside ? m.words[a / 2 + i * 2] : int16_t(0);
                const int16_t oldR = inside ? m.words[a / 2 + i * 2 + 1] : int16_t(0);
                in.push_back(choice == 1 ? oldL : cw[i]);
                in.push_back(choice == 0 ? oldR : cw[i]);
            }
        }
        replace(m, a, b, in);
        recorded(before);
        return expect(ran, true);
    }
    case 4: { // crop
        note("crop " + std::to_string(m.left) + ".." + std::to_string(m.right));
        const bool ran = bench_.run([&](editing::Done d) { return editor().crop(std::move(d)); });
        if (!allChannels()) {
            return expect(ran, false);
        }
        const uint32_t a = m.frame(m.left);
        const uint32_t b = m.frame(m.right);
        m.words = std::vector<int16_t>(m.words.begin() + a / 2, m.words.begin() + b / 2);
        std::vector<Point> kept;
        for (Point p : m.points) {
            if (p.position > a + 2 && p.position < b) {
                p.position -= a;
                kept.push_back(p);
            }
        }
        m.points = kept;
        m.left = 0;
        m.right = m.bytes();
        recorded(before);
        return expect(ran, true);
    }
    case 5:
    case 6: { // silence or reverse of the selection
        chooseSelection();
        const bool silence = op == 5;
        note(std::string(silence ? "silence " : "reverse ") + std::to_string(selStart_) + ".." + std::to_string(selEnd_));
        const bool ran = bench_.run([&](editing::Done d) {
            return silence ? proc.silence(std::move(d)) : proc.reverse(std::move(d));
        });
        auto [a, b] = range();
        if (b <= a) {
            return expect(ran, false);
        }
        const int first = oneChannelWord();
        if (silence) {
            const uint32_t lead = 500u * m.channels;
            uint32_t s = a + (first == 1 ? 2 : 0);
            const uint32_t e = b + (first == 1 ? 2 : 0);
            if (s > lead) {
                s -= lead;
                for (uint32_t w = s / 2; w < (s + lead) / 2; ++w) {
                    const int i = int((w - s / 2) / m.channels);
                    if (first < 0 || (w - s / 2) % 2 == 0) {
                        m.words[w] = fade(m.words[w], i);
                    }
                }
                s += lead;
            }
            for (uint32_t w = s / 2; w < e / 2 && w < m.words.size(); ++w) {
                if (first < 0 || (w - s / 2) % 2 == 0) {
                    m.words[w] = 0;
                }
            }
        } else if (first < 0) {
            const size_t unit = m.channels;
            const size_t n = (b - a) / 2 / unit;
            for (size_t i = 0; i < n / 2; ++i) {
                for (size_t k = 0; k < unit; ++k) {
                    std::swap(m.words[a / 2 + i * unit + k], m.words[a / 2 + (n - 1 - i) * unit + k]);
                }
            }
        } else {
            const size_t n = (b - a) / 4;
            for (size_t i = 0; i < n / 2; ++i) {
                std::swap(m.words[a / 2 + i * 2 + size_t(first)], m.words[a / 2 + (n - 1 - i) * 2 + size_t(first)]);
            }
        }
        recorded(before);
        return expect(ran, true);
    }
    case 7:
    case 8:
    case 9: { // invert, normalise, quantise
        chooseSelection();
        const auto [a, b] = range();
        const int first = oneChannelWord();
        if (op == 7) {
            note("invert");
            const bool ran = bench_.run([&](editing::Done d) { return proc.invert(std::move(d)); });
            eachWord(m, a, b, first, [](int16_t& v) { v = int16_t(-1 - v); });
            recorded(before);
            return expect(ran, true);
        }
        if (op == 8) {
            const int percent = 50 + int(pick(101));
            const bool dc = pick(2) == 0;
            note("normalise " + std::to_string(percent) + (dc ? " dc" : ""));
            proc.settings.normalisePercent = std::to_string(percent);
            proc.settings.recutAfterNormalise = false; // the model keeps the points; re-cut is tested apart
            proc.settings.dcCentre = dc;
            bench_.fx.prompter.asked.clear();
            const bool ran = bench_.run([&](editing::Done d) { return proc.normalise(std::move(d)); });
            long double sum = 0;
            uint64_t count = 0;
            eachWord(m, a, b, first, [&](int16_t& v) {
                sum += v;
                ++count;
            });
            const double offset = dc && count > 0 ? double(sum / count) : 0.0;
            double peak = -1000000.0;
            eachWord(m, a, b, first, [&](int16_t& v) { peak = std::max(peak, std::fabs(double(v) - offset)); });
            if (!(peak > 0)) {
                // Nothing to scale: the data and the undo record stay, and the engine says so.
                return expect(ran, false) + (bench_.fx.prompter.asked.empty() ? "no message for a silent range" : "");
            }
            recorded(before);
            const double gain = percent / 100.0 * 32767.0 / peak;
            eachWord(m, a, b, first, [&](int16_t& v) {
                v = int16_t(std::clamp(std::trunc((double(v) - offset) * gain), -32768.0, 32767.0));
            });
            return expect(ran, true);
        }
        const int level = int(pick(9));
        note("quantise " + std::to_string(level));
        proc.settings.quantiseLevel = level;
        const bool ran = bench_.run([&](editing::Done d) { return proc.quantise(std::move(d)); });
        const int q = 1 << (16 - level);
        eachWord(m, a, b, first, [&](int16_t& v) { v = int16_t(q * (v / q)); });
        recorded(before);
        return expect(ran, true);
    }
    case 10: { // rate
        const uint32_t rate = std::vector<uint32_t>{22050, 32000, 44100, 48000}[pick(4)];
        note("rate " + std::to_string(rate));
        const bool ran = proc.adjustRate(std::to_string(rate));
        m.rate = rate;
        recorded(before);
        return expect(ran, true);
    }
    case 11: { // convert channels
        const int choice = int(pick(3));
        note("convert " + std::to_string(choice));
        const bool ran = bench_.run([&](editing::Done d) { return proc.convertChannels(choice, std::move(d)); });
        std::vector<int16_t> w;
        if (m.channels == 1) {
            for (int16_t v : m.words) {
                w.push_back(v);
                w.push_back(v);
            }
        } else {
            for (size_t i = 0; i + 1 < m.words.size(); i += 2) {
                const int l = m.words[i];
                const int r = m.words[i + 1];
                w.push_back(int16_t(choice == 0 ? l : choice == 1 ? r : l / 2 + r / 2));
            }
        }
        m.words = w;
        m.channels = m.channels == 1 ? 2 : 1;
        m.left = 0;
        m.right = m.bytes();
        // The fresh search places points the model does not predict: take the engine's.
        m.points.clear();
        const auto& c = slicer().candidates();
        for (int k = 1; k <= c.count(); ++k) {
            m.points.push_back({c.at(k).position, c.at(k).enabled != 0, c.at(k).locked != 0, c.at(k).channel});
        }
        recorded(before);
        history_.wholeSample = true;
        history_.channel = channel_;
        channel_ = 3;
        linked_ = true;
        return expect(ran, true);
    }
    case 12: { // strip silence, keeping the old points
        chooseSelection();
        const int threshold = 1 + int(pick(40));
        const int gap = 10 + int(pick(60));
        note("strip-silence " + std::to_string(threshold) + " " + std::to_string(gap));
        proc.settings.stripThreshold = threshold;
        proc.settings.stripGap = gap;
        proc.settings.stripMode = 1;
        const bool ran = bench_.run([&](editing::Done d) { return proc.stripSilence(std::move(d)); });
        if (m.right - m.left <= 50) {
            return expect(ran, false);
        }
        const auto [a, b] = range();
        const auto found = silences(m, a, b, threshold, gap);
        if (found.empty()) {
            history_.valid = false; // nothing removed, nothing to undo
            return expect(ran, true);
        }
        std::vector<int16_t> w(m.words.begin(), m.words.begin() + a / 2);
        for (size_t k = 0; k < found.size(); ++k) {
            const uint32_t from = k == 0 ? a : found[k - 1].second;
            w.insert(w.end(), m.words.begin() + from / 2, m.words.begin() + found[k].first / 2);
        }
        w.insert(w.end(), m.words.begin() + found.back().second / 2, m.words.end());
        std::vector<Point> kept;
        for (Point p : m.points) {
            uint32_t removed = 0;
            bool inside = false;
            for (const auto& [s, e] : found) {
                if (p.position >= e) {
                    removed += e - s;
                } else if (p.position >= s) {
                    inside = true;
                }
            }
            if (!inside) {
                p.position -= removed;
                kept.push_back(p);
            }
        }
        m.words = w;
        m.points = kept;
        m.left = 0;
        m.right = m.bytes();
        recorded(before);
        return expect(ran, true);
    }
    case 13:
    case 14: { // add a point
        const uint32_t x = pick(len + 8);
        const bool upper = pick(2) == 0;
        note("add-point " + std::to_string(x));
        const bool ran = slicer().addPoint(x, upper);
        if (x >= len) {
            return expect(ran, false);
        }
        Point p;
        if (m.channels == 1) {
            p.position = x & ~1u;
        } else if (linked_) {
            p.position = x & ~3u;
        } else {
            p.channel = upper ? 2 : 1;
            p.position = (x & ~3u) + (upper ? 0 : 2);
        }
        auto at = std::find_if(m.points.begin(), m.points.end(), [&](const Point& q) { return q.position > p.position; });
        m.points.insert(at, p);
        recorded(before);
        return expect(ran, true);
    }
    case 15: { // move a point
        const int n = int(m.points.size());
        const int i = 1 + int(pick(uint32_t(n + 1)));
        const uint32_t x = pick(len + 4);
        note("move-point " + std::to_string(i) + " " + std::to_string(x));
        const bool ran = slicer().movePoint(i, x);
        if (i > n || x >= len) {
            return expect(ran, false);
        }
        Point p = m.points[size_t(i - 1)];
        m.points.erase(m.points.begin() + (i - 1));
        if (m.channels == 1) {
            p.position = x & ~1u;
            p.channel = 1;
        } else if (linked_) {
            p.position = x & ~3u;
            p.channel = 1;
        } else {
            p.position = (x & ~3u) + (p.channel == 2 ? 0 : 2);
        }
        auto at = std::find_if(m.points.begin(), m.points.end(), [&](const Point& q) { return q.position > p.position; });
        m.points.insert(at, p);
        recorded(before);
        return expect(ran, true);
    }
    case 16: { // enable, disable, lock, unlock
        const int n = int(m.points.size());
        const int i = 1 + int(pick(uint32_t(n + 1)));
        const int kind = int(pick(4));
        note("point-flag " + std::to_string(kind) + " " + std::to_string(i));
        const bool ran = kind == 0   ? slicer().enablePoint(i)
                         : kind == 1 ? slicer().disablePoint(i)
                         : kind == 2 ? slicer().lockPoint(i)
                                     : slicer().unlockPoint(i);
        if (i > n) {
            return expect(ran, false);
        }
        Point& p = m.points[size_t(i - 1)];
        p.enabled = kind != 1;
        if (kind != 0) {
            p.locked = kind == 2;
        }
        recorded(before);
        return expect(ran, true);
    }
    case 17: { // the channel button
        channel_ = uint8_t(1 + pick(3));
        note("channel " + std::to_string(channel_));
        editor().setProcessChannel(channel_);
        return {};
    }
    case 18: { // L + R
        linked_ = pick(2) == 0;
        note(linked_ ? "link" : "unlink");
        slicer().channelMode().linked = linked_;
        return {};
    }
    default: { // undo or redo
        note("undo");
        const bool ran = bench_.run([&](editing::Done d) { return editor().undo(std::move(d)); });
        if (!history_.valid) {
            return expect(ran, false);
        }
        std::swap(m, history_.other);
        if (history_.wholeSample) {
            std::swap(channel_, history_.channel);
            linked_ = bench_.slicer().channelMode().linked;
        }
        return expect(ran, true);
    }
    }
}

} // namespace cleavix::test::model
