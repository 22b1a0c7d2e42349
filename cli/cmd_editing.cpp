// run: a script of edit, process, undo and point commands on one session, one command a line.
#include "cli/Cli.h"
#include "cli/PluginScript.h"
#include "cli/RunScript.h"
#include "cli/TransferScript.h"
#include "editing/ClipboardImage.h"
#include "sample/SafeFiles.h"
#include "sample/SampleFormat.h"
#include "session/RecordTake.h"
#include "slicing/Slicer.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

namespace cleavix::cli {

namespace {

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint32_t position(const std::string& text, const std::string& what) {
    const long long v = parseInteger(text, what);
    if (v < 0 || v > 0xFFFFFFFFLL) {
        throw UsageError(what + " must lie between 0 and 4294967295");
    }
    return uint32_t(v);
}

// A paste dialog's answer: the item's number 0..2 or its word; "cancel" is -1.
int choiceOf(const std::string& text) {
    if (text == "left") {
        return 0;
    }
    if (text == "right") {
        return 1;
    }
    if (text == "mix" || text == "both") {
        return 2;
    }
    if (text == "cancel") {
        return -1;
    }
    const long long v = parseInteger(text, "CHOICE");
    if (v < -1 || v > 2) {
        throw UsageError("CHOICE must be left, right, mix, both, cancel or 0..2");
    }
    return int(v);
}

bool writeBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return finishOutput(out, file);
}

class Script {
public:
    explicit Script(CliEnv& env) : env_(env), editor_(env.session.editor()), slicer_(env.session.slicer()) {}

    // Runs one line; false when the command was refused or failed.
    bool run(Args words);

private:
    // Starts a command taking done(ok) and waits for everything it started.
    bool wait(const std::function<bool(editing::Done)>& command) {
        bool finished = false;
        bool ok = false;
        if (!command([&](bool result) {
                finished = true;
                ok = result;
            })) {
            return false;
        }
        env_.waitIdle();
        return finished && ok;
    }
    void need(const Args& a, size_t count, const std::string& usage) {
        if (a.size() != count) {
            throw UsageError("usage: " + usage);
        }
    }
    // The slice point whose segment holds p, in the channel the channel choice names.
    int segmentAt(uint32_t p) {
        slicer_.rebuild();
        auto& selection = env_.session.selection();
        return selection.segmentAt(p, selection.channelCodeOfChoice());
    }
    bool dumpState();
    bool dumpPoints();
    bool record(Args a);
    bool dumpStore(const std::string& file);
    bool dumpPeaks(const std::string& file);

    CliEnv& env_;
    editing::Editor& editor_;
    slicing::Slicer& slicer_;
};

// A take of SECONDS from the input, kept as the record command keeps it (undo gives the old sample
// back); a take the input cut short (a full working folder) keeps what it has.
bool Script::record(Args a) {
    const auto rate = takeOption(a, "--rate");
    const auto channels = takeOption(a, "--channels");
    const auto device = takeOption(a, "--device");
    const double seconds = parseNumber(takePositional(a, "SECONDS"), "SECONDS");
    refuseLeftovers(a);
    const long long sampleRate = rate ? parseInteger(*rate, "--rate") : 44100;
    const long long channelCount = channels ? parseInteger(*channels, "--channels") : 2;
    checkRecordFormat(sampleRate, channelCount);
    const uint64_t wanted = recordBytesFor(seconds, sampleRate, channelCount, "SECONDS");
    auto& session = env_.session;
    if (device) {
        session.player().setInputDeviceID(resolveDevice(session.devices(), device));
    }
    auto take = session.DoRecord();
    if (!take || !take->setFormat(uint32_t(sampleRate), uint16_t(channelCount)) || !take->record()) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * 2 + 5);
    {
        Ticker ticker(env_.loop);
        env_.loop.runUntil([&] {
            take->tick();
            return take->state() != session::RecordTake::State::Recording || take->recordedBytes() >= wanted ||
                   std::chrono::steady_clock::now() > deadline;
        });
    }
    take->stop();
    env_.loop.runPending();
    take->trim(wanted);
    return wait([&](editing::Done d) { return session.keepRecording(take, std::move(d)); });
}

bool Script::dumpState() {
    const auto& f = env_.session.format();
    const auto& r = editor_.record();
    printJson({{"format",
                {{"sampleRate", f.sampleRate},
                 {"channels", f.channels},
                 {"bitsPerSample", f.bitsPerSample},
                 {"sourceBits", f.sourceBits},
                 {"saveBits", f.saveBits}}},
               {"dataLength", f.dataLength},
               {"L", slicer_.left()},
               {"R", slicer_.right()},
               {"selection", editor_.selectionList()},
               {"selectionStart", editor_.selectionStart()},
               {"selectionEnd", editor_.selectionEnd()},
               {"processChannel", editor_.processChannel()},
               {"linked", slicer_.channelMode().linked},
               {"undoCode", r.undoCode},
               {"undoCaption", editor_.undoCaption()},
               {"undoName", r.undoName},
               {"undoAvailable", editor_.undoAvailable()},
               {"modified", env_.session.modified()},
               {"title", env_.session.title()},
               {"candidateCount", slicer_.candidates().count()},
               {"slicePointCount", slicer_.slicePoints().count()},
               {"tempo", slicer_.tempo().text}});
    return true;
}

bool Script::dumpPoints() {
    nlohmann::json list = nlohmann::json::array();
    const auto& c = slicer_.candidates();
    for (int k = 1; k <= c.count(); ++k) {
        const auto& p = c.at(k);
        list.push_back({{"position", p.position},
                        {"strength", p.strength},
                        {"enabled", p.enabled != 0},
                        {"locked", p.locked != 0},
                        {"channel", p.channel}});
    }
    printJson({{"candidates", list}});
    return true;
}

bool Script::dumpStore(const std::string& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(65536);
    const uint64_t length = env_.session.format().dataLength;
    uint64_t done = 0;
    while (out && done < length) {
        const size_t n = size_t(std::min<uint64_t>(buffer.size(), length - done));
        std::fill(buffer.begin(), buffer.end(), 0);
        env_.session.store().stream().readAt(done, buffer.data(), n);
        out.write(buffer.data(), std::streamsize(n));
        done += n;
    }
    return finishOutput(out, file);
}

// The peak table's words as they stand (entry by entry, each channel's word, little-endian); fails
// when the table does not describe the store as it is.
bool Script::dumpPeaks(const std::string& file) {
    const auto& peaks = env_.session.peaks();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<int32_t> words(16384);
    const uint64_t total = peaks.entries() * peaks.channels();
    for (uint64_t done = 0; out && done < total;) {
        const size_t got = peaks.readWords(done, words.data(), size_t(std::min<uint64_t>(words.size(), total - done)));
        if (got == 0) {
            out.close();
            return false;
        }
        out.write(reinterpret_cast<const char*>(words.data()), std::streamsize(got * 4));
        done += got;
    }
    return finishOutput(out, file) && peaks.describes(env_.session.store().stream(), env_.session.format());
}

bool Script::run(Args a) {
    const std::string c = a.front();
    a.erase(a.begin());
    auto& processor = env_.session.processor();
    if (c == "open") {
        need(a, 1, "open FILE");
        return env_.load(a[0]);
    }
    if (c == "recent" || c == "drop") {
        // A Reopen entry, or a file dropped on the window (the unsaved-changes question is answered
        // No unless `answer` says otherwise).
        need(a, 1, c + " FILE");
        const auto origin = c == "recent" ? session::OpenOrigin::Recent : session::OpenOrigin::Drop;
        return wait([&](editing::Done d) { return env_.session.open(a[0], origin, std::move(d)); });
    }
    if (c == "revert" || c == "reload") {
        need(a, 0, c);
        const auto origin = c == "revert" ? session::OpenOrigin::Revert : session::OpenOrigin::Reload;
        return wait([&](editing::Done d) { return env_.session.open(env_.session.fileName(), origin, std::move(d)); });
    }
    if (c == "check-outside") {
        // The window's return to the foreground: reloads when the file changed on disk (the
        // question answered Yes unless `answer` says otherwise). Fails when nothing changed.
        need(a, 0, c);
        const bool started = env_.session.checkOutsideChange();
        env_.waitIdle();
        return started && env_.session.loaded();
    }
    if (c == "answer") {
        need(a, 1, "answer yes|no|cancel|default");
        const std::string& w = a[0];
        if (w == "default") {
            env_.prompter.answer.reset();
        } else if (w == "yes" || w == "no" || w == "cancel") {
            env_.prompter.answer = w == "yes" ? jobs::Answer::Yes : w == "no" ? jobs::Answer::No : jobs::Answer::Cancel;
        } else {
            throw UsageError("answer takes yes, no, cancel or default");
        }
        return true;
    }
    if (c == "close") {
        need(a, 0, c);
        env_.session.close();
        return true;
    }
    if (c == "peak-block-size") {
        need(a, 1, "peak-block-size BYTES");
        const long long bytes = parseInteger(a[0], "BYTES");
        if (bytes < 2 || bytes > (1LL << 30)) {
            throw UsageError("BYTES must lie between 2 and 1073741824");
        }
        return wait([&](editing::Done d) {
            env_.session.setPeakBlockSize(uint32_t(bytes), std::move(d));
            return true;
        });
    }
    if (c == "view-width") {
        // The waveform's width in pixels, which the slice search scales its windows by (the
        // window's own width; 1000 otherwise).
        need(a, 1, "view-width PX");
        const long long px = parseInteger(a[0], "PX");
        if (px < 1 || px > 100000) {
            throw UsageError("PX must lie between 1 and 100000");
        }
        slicer_.setViewWidth(int(px));
        return true;
    }
    if (c == "select-segment") {
        need(a, 1, "select-segment P");
        return env_.session.selection().selectSegment(segmentAt(position(a[0], "P")));
    }
    if (c == "step") {
        need(a, 1, "step next|previous");
        if (a[0] != "next" && a[0] != "previous") {
            throw UsageError("step takes next or previous");
        }
        slicer_.rebuild();
        return env_.session.selection().step(a[0] == "next" ? 1 : -1) >= 0;
    }
    if (c == "save") {
        const auto bits = takeOption(a, "--bits");
        if (a.size() > 1) {
            throw UsageError("usage: save [FILE] [--bits 8|16]");
        }
        uint8_t depth = env_.session.format().saveBits;
        if (bits) {
            const long long b = parseInteger(*bits, "--bits");
            if (b != 8 && b != 16) {
                throw UsageError("--bits must be 8 or 16");
            }
            depth = uint8_t(b);
        }
        const std::string file = a.empty() ? env_.session.fileName() : a[0];
        env_.prompter.answer = jobs::Answer::No;
        const bool ok = wait([&](editing::Done done) { return env_.session.saveTo(file, depth, std::move(done)); });
        env_.prompter.answer.reset();
        if (!ok && env_.session.loaded() && env_.session.lastSaveFailed()) {
            throw ScriptError("save " + file + ": " + env_.session.lastSaveError());
        }
        return ok;
    }
    if (c == "select") {
        need(a, 2, "select A B");
        env_.session.selection().selectRange(position(a[0], "A"), position(a[1], "B"));
        return true;
    }
    if (c == "cursor") {
        need(a, 1, "cursor P");
        const uint32_t p = position(a[0], "P");
        env_.session.selection().selectRange(p, p);
        return true;
    }
    if (c == "select-all") {
        need(a, 0, "select-all");
        env_.session.selection().selectRange(0, env_.session.format().dataLength);
        return true;
    }
    if (c == "loop") {
        need(a, 2, "loop L R");
        slicer_.setLoop(position(a[0], "L"), position(a[1], "R"));
        return true;
    }
    if (c == "channel") {
        need(a, 1, "channel left|right|both");
        if (a[0] != "left" && a[0] != "right" && a[0] != "both") {
            throw UsageError("channel must be left, right or both");
        }
        env_.session.selection().setChannelTicks(a[0] != "right", a[0] != "left");
        return true;
    }
    if (c == "link" || c == "unlink") {
        need(a, 0, c);
        const bool shared = c == "link";
        auto& session = env_.session;
        if (session.loaded() && session.format().channels == 2 && session.pointsShared() != shared) {
            // As the window's control does it: the points found afresh for the mode, with undo.
            return wait([&](editing::Done d) { return session.setPointsShared(shared, std::move(d)); });
        }
        slicer_.channelMode().linked = shared;
        slicer_.rebuild();
        return true;
    }
    if (c == "undo-buffer") {
        need(a, 1, "undo-buffer on|off");
        editor_.setUndoEnabled(a[0] == "on");
        return true;
    }
    if (c == "copy") {
        need(a, 0, "copy");
        return wait([&](editing::Done d) { return editor_.copy(std::move(d)); });
    }
    if (c == "copy-segment") {
        need(a, 1, "copy-segment P");
        const int index = segmentAt(position(a[0], "P"));
        return wait([&](editing::Done d) { return editor_.copySegment(index, std::move(d)); });
    }
    if (c == "cut") {
        need(a, 0, "cut");
        return wait([&](editing::Done d) { return editor_.cut(std::move(d)); });
    }
    if (c == "paste-keep" || c == "paste-find-new") {
        if (a.size() > 1) {
            throw UsageError("usage: " + c + " [CHOICE]");
        }
        const int choice = a.empty() ? 2 : choiceOf(a[0]);
        return wait([&](editing::Done d) {
            return c == "paste-keep" ? editor_.pasteKeep(choice, std::move(d)) : editor_.pasteFindNew(choice, std::move(d));
        });
    }
    if (c == "paste-segment") {
        if (a.empty() || a.size() > 2) {
            throw UsageError("usage: paste-segment P [CHOICE]");
        }
        const int index = segmentAt(position(a[0], "P"));
        const int choice = a.size() == 2 ? choiceOf(a[1]) : 2;
        return wait([&](editing::Done d) { return editor_.pasteIntoSegment(index, choice, std::move(d)); });
    }
    if (c == "paste-new") {
        need(a, 0, "paste-new");
        return wait([&](editing::Done d) { return editor_.pasteToNew(std::move(d)); });
    }
    if (c == "load-clipboard") {
        need(a, 1, "load-clipboard FILE");
        std::vector<uint8_t> bytes;
        try {
            // Regular files only: a FIFO would block the run.
            bytes = sample::readRegularFile(a[0], uint64_t(sample::kMaxDataLength) + 4096);
        } catch (const sample::FileError& e) {
            throw ScriptError(std::string("cannot read clipboard file: ") + e.what());
        }
        editor_.setClipboardImage(bytes);
        return true;
    }
    if (c == "crop") {
        need(a, 0, "crop");
        return wait([&](editing::Done d) { return editor_.crop(std::move(d)); });
    }
    if (c == "record") {
        return record(a);
    }
    if (c == "undo") {
        need(a, 0, "undo");
        return wait([&](editing::Done d) { return editor_.undo(std::move(d)); });
    }
    if (c == "silence" || c == "reverse" || c == "invert") {
        need(a, 0, c);
        return wait([&](editing::Done d) {
            return c == "silence" ? processor.silence(std::move(d))
                   : c == "reverse" ? processor.reverse(std::move(d))
                                    : processor.invert(std::move(d));
        });
    }
    if (c == "silence-segment" || c == "reverse-segment") {
        need(a, 1, c + " P");
        const int index = segmentAt(position(a[0], "P"));
        return wait([&](editing::Done d) {
            return c == "silence-segment" ? processor.silenceSegment(index, std::move(d))
                                          : processor.reverseSegment(index, std::move(d));
        });
    }
    if (c == "normalise") {
        const bool noDc = takeFlag(a, "--no-dc");
        const bool noRecut = takeFlag(a, "--no-recut");
        need(a, 1, "normalise PCT [--no-dc] [--no-recut]");
        processor.settings.normalisePercent = a[0];
        processor.settings.dcCentre = !noDc;
        processor.settings.recutAfterNormalise = !noRecut;
        return wait([&](editing::Done d) { return processor.normalise(std::move(d)); });
    }
    if (c == "quantise") {
        need(a, 1, "quantise LEVEL");
        const long long level = parseInteger(a[0], "LEVEL");
        if (level < 0 || level > 8) {
            throw UsageError("LEVEL must lie between 0 and 8");
        }
        processor.settings.quantiseLevel = int(level);
        return wait([&](editing::Done d) { return processor.quantise(std::move(d)); });
    }
    if (c == "rate") {
        need(a, 1, "rate HZ");
        return processor.adjustRate(a[0]);
    }
    if (c == "resample") {
        need(a, 1, "resample HZ");
        return wait([&](editing::Done d) { return processor.resample(a[0], std::move(d)); });
    }
    if (c == "convert") {
        need(a, 1, "convert mono-left|mono-right|mono-mix|stereo");
        const int choice = a[0] == "mono-left" ? 0 : a[0] == "mono-right" ? 1 : a[0] == "mono-mix" ? 2 : 0;
        const bool toStereo = a[0] == "stereo";
        if (!toStereo && a[0] != "mono-left" && a[0] != "mono-right" && a[0] != "mono-mix") {
            throw UsageError("convert takes mono-left, mono-right, mono-mix or stereo");
        }
        if (toStereo != (env_.session.format().channels == 1)) {
            throw ScriptError("convert " + a[0] + " does not fit a " +
                              (env_.session.format().channels == 1 ? "mono" : "stereo") + " sample");
        }
        return wait([&](editing::Done d) { return processor.convertChannels(choice, std::move(d)); });
    }
    if (c == "strip-silence") {
        need(a, 3, "strip-silence THRESHOLD GAP MODE");
        processor.settings.stripThreshold = int(parseInteger(a[0], "THRESHOLD"));
        processor.settings.stripGap = int(parseInteger(a[1], "GAP"));
        processor.settings.stripMode = int(parseInteger(a[2], "MODE"));
        return wait([&](editing::Done d) { return processor.stripSilence(std::move(d)); });
    }
    if (c == "add-point") {
        if (a.empty() || a.size() > 2) {
            throw UsageError("usage: add-point P [upper|lower]");
        }
        return slicer_.addPoint(position(a[0], "P"), a.size() == 2 && a[1] == "upper");
    }
    if (c == "move-point") {
        need(a, 2, "move-point I P");
        return slicer_.movePoint(int(parseInteger(a[0], "I")), position(a[1], "P"));
    }
    if (c == "enable" || c == "disable" || c == "lock" || c == "unlock") {
        need(a, 1, c + " I");
        const int i = int(parseInteger(a[0], "I"));
        return c == "enable"    ? slicer_.enablePoint(i)
               : c == "disable" ? slicer_.disablePoint(i)
               : c == "lock"    ? slicer_.lockPoint(i)
                                : slicer_.unlockPoint(i);
    }
    if (c == "lock-all" || c == "unlock-all") {
        need(a, 0, c);
        c == "lock-all" ? slicer_.lockAll() : slicer_.unlockAll();
        return true;
    }
    if (c == "sensitivity") {
        need(a, 1, "sensitivity PCT");
        const double pct = parseNumber(a[0], "PCT");
        if (pct < 0 || pct > 100) {
            throw UsageError("PCT must lie between 0 and 100");
        }
        slicer_.setSlider(slicing::sliderForPercent(pct));
        return true;
    }
    if (c == "slider") {
        // The sensitivity slider's own position, 0..65535 (what the window stores).
        need(a, 1, "slider POS");
        const long long pos = parseInteger(a[0], "POS");
        if (pos < 0 || pos > 65535) {
            throw UsageError("POS must lie between 0 and 65535");
        }
        slicer_.setSlider(int(pos));
        return true;
    }
    if (c == "bars" || c == "beats") {
        need(a, 1, c + " N");
        const std::string bars = c == "bars" ? a[0] : std::to_string(slicer_.tempo().bars);
        const std::string beats = c == "beats" ? a[0] : std::to_string(slicer_.tempo().beats);
        return slicer_.setBarsAndBeats(bars, beats);
    }
    if (c == "grid") {
        need(a, 1, "grid 8|16|32");
        const long long d = parseInteger(a[0], "grid");
        if (d != 8 && d != 16 && d != 32) {
            throw UsageError("grid must be 8, 16 or 32");
        }
        bool placed = false;
        slicer_.cutLoopTo(static_cast<slicing::GridDivision>(d), [&](bool ok) { placed = ok; });
        env_.waitIdle();
        return placed;
    }
    if (c == "scan" || c == "recut") {
        need(a, 0, c);
        if (c == "scan") {
            slicer_.requestSearch();
            const bool started = slicer_.startSliceSearch();
            env_.waitIdle();
            return started;
        }
        const bool started = slicer_.recut();
        env_.waitIdle();
        return started;
    }
    if (c == "seed") {
        need(a, 1, "seed N");
        slicer_.setRandomSeed(uint32_t(parseInteger(a[0], "N")));
        return true;
    }
    if (c == "randomise") {
        if (a.size() > 1 || (a.size() == 1 && a[0] != "keep")) {
            throw UsageError("usage: randomise [keep]");
        }
        const bool keep = a.size() == 1;
        return wait([&](editing::Done d) { return editor_.randomise(keep, std::move(d)); });
    }
    if (c == "export") {
        const auto out = takeOption(a, "--out");
        const auto bits = takeOption(a, "--bits");
        const auto smooth = takeOption(a, "--smooth");
        need(a, 0, "export --out NAME.wav|NAME.aif [--bits 8|16] [--smooth LEVEL]");
        if (!out) {
            throw UsageError("export needs --out NAME.wav|NAME.aif");
        }
        const long long level = smooth ? parseInteger(*smooth, "--smooth") : 0;
        if (level < 0 || level > 60) {
            throw UsageError("--smooth must lie between 0 and 60");
        }
        const long long depth = bits ? parseInteger(*bits, "--bits") : env_.session.format().saveBits;
        if (depth != 8 && depth != 16) {
            throw UsageError("--bits must be 8 or 16");
        }
        slicer_.exportSettings.smoothEndPoints = level > 0;
        slicer_.exportSettings.smoothLevel = int(level);
        env_.prompter.answer = jobs::Answer::No;
        slicing::ExportReport report;
        const bool started =
            slicer_.saveSegmentsInLoop(*out, uint8_t(depth), [&](const slicing::ExportReport& r) { report = r; });
        env_.waitIdle();
        env_.prompter.answer.reset();
        if (started) {
            printJson({{"files", report.written}, {"failed", report.failed}});
        }
        if (started && !report.failed.empty()) {
            throw ScriptError("export: " + report.failed.front());
        }
        return started && report.ok;
    }
    if (c == "plugin" || c == "smooth") {
        return runPluginScriptLine(env_, c, a);
    }
    if (isTransferScriptLine(c)) {
        return runTransferScriptLine(env_, c, a);
    }
    if (c == "dump-store") {
        need(a, 1, "dump-store FILE");
        return dumpStore(a[0]);
    }
    if (c == "dump-peaks") {
        need(a, 1, "dump-peaks FILE");
        return dumpPeaks(a[0]);
    }
    if (c == "dump-clipboard") {
        need(a, 1, "dump-clipboard FILE");
        return writeBytes(a[0], editor_.clipboardImage());
    }
    if (c == "dump-state") {
        need(a, 0, "dump-state");
        return dumpState();
    }
    if (c == "dump-points") {
        need(a, 0, "dump-points");
        return dumpPoints();
    }
    throw UsageError("unknown script command '" + c + "'");
}

Args splitWords(const std::string& line) {
    std::istringstream in(line);
    Args words;
    std::string word;
    while (in >> word) {
        if (word.front() == '#') {
            break;
        }
        words.push_back(word);
    }
    return words;
}

int runScript(Args& args) {
    if (args.size() != 1) {
        throw UsageError("run needs exactly one SCRIPT (or - for standard input)");
    }
    if (args[0] == "-") {
        return runScriptLines(std::cin, std::cerr);
    }
    std::ifstream file(args[0]);
    if (!file) {
        std::cerr << "cleavix-cli: cannot read " << args[0] << "\n";
        return 66;
    }
    return runScriptLines(file, std::cerr);
}

const CommandRegistration runCommand(
    {"run", "run SCRIPT|-",
     "Runs a script of commands on one session, one command a line (# starts a comment); - reads standard input. "
     "Stops with exit status 1 at the first command that is refused or fails, 64 at a malformed one. Positions and "
     "lengths are byte offsets into the 16-bit store; I is an index into the candidate list (1..n); P of the "
     "segment commands is a position inside the segment (in unlinked stereo, of the channel chosen by `channel`). "
     "CHOICE answers a paste's conversion dialog: left, right, mix (stereo to mono), both (mono to stereo), cancel, "
     "or 0..2; it defaults to the dialog's default (the third item).\n"
     "Commands: open FILE | recent FILE (as a Reopen entry) | drop FILE (as a file dropped on the window) | revert | "
     "reload (the file again, without questions) | check-outside (reload when the file changed on disk) | answer "
     "yes|no|cancel|default (how the next questions are answered) | close | save [FILE] [--bits 8|16] | select A B | "
     "cursor P | select-all | select-segment P | view-width PX | step next|previous (the + and - keys: the next or previous segment, "
     "wrapping inside the loop) | loop L R | channel left|right|both | peak-block-size BYTES | link | unlink (stereo: the slice points shared by both channels or each channel's own, searched afresh, with undo) | undo-buffer on|off | copy | copy-segment P | cut | paste-keep [CHOICE] | "
     "paste-find-new [CHOICE] | paste-segment P [CHOICE] | paste-new | load-clipboard FILE | crop | record SECONDS [--rate R] [--channels C] [--device D] (a take "
     "from the input, 4000 to 192000 Hz, 1 or 2 channels, replacing the sample as \"Untitled.wav\" with undo) | "
     "undo (which is "
     "also Redo) | silence | silence-segment P | reverse | reverse-segment P | invert | normalise PCT [--no-dc] [--no-recut] "
     "(a fresh slice search afterwards unless --no-recut, as the window's \"Re-cut sample\") | "
     "quantise LEVEL | rate HZ (the rate reassigned: the pitch changes) | resample HZ (converted to HZ keeping pitch "
     "and length, with undo; points, locators and selection scaled) | convert mono-left|mono-right|mono-mix|stereo | strip-silence THRESHOLD GAP MODE "
     "(MODE 0 points at the joins, 1 keep old points, 2 re-cut) | add-point P [upper|lower] | move-point I P | enable "
     "I | disable I | lock I | unlock I | lock-all | unlock-all | sensitivity PCT | slider POS (0..65535) | bars B | beats C | grid 8|16|32 | "
     "scan | recut | seed N | randomise [keep] | smooth on|off | plugin URI|INDEX [--preset P] [--set SYMBOL=VALUE]... "
     "[--scope loop|all] (an effect plug-in over the loop or the whole sample, with undo) | export --out NAME [--bits 8|16] [--smooth LEVEL] | dump-store FILE "
     "(the store's dataLength bytes) | dump-peaks FILE (the peak table's words; fails unless it describes the store) | profile NAME [--config FILE] (the sampler profile of the transfer lines) | "
     "send-region [--position P] [--side 1|2] (the loop region to the sampler) | request [--position P] [--wait] "
     "[--number N] (a sample from the sampler replaces the loaded one, with undo) | batch FILE... [--position P] "
     "[--auto-map] [--bank B --note C --octave O --interval I --white-keys] [--smooth LEVEL] | dump-clipboard FILE (the clipboard wave image) | dump-points (JSON "
     "candidates) | dump-state (JSON: format, dataLength, L, R, selection, selectionStart, selectionEnd, "
     "processChannel, linked, undoCode, undoCaption, undoName (what Undo undoes: \"Cut\", \"Normalise\"), undoAvailable, modified, title, candidateCount, "
     "slicePointCount, tempo).",
     runScript});

} // namespace

int runScriptLines(std::istream& in, std::ostream& err) {
    CliEnv env(defaultSettings());
    Script script(env);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        Args words = splitWords(line);
        if (words.empty()) {
            continue;
        }
        const std::string command = words.front();
        try {
            if (!script.run(words)) {
                err << "cleavix-cli: line " << number << ": " << command << " did nothing (refused or failed)\n";
                return 1;
            }
        } catch (const UsageError& e) {
            err << "cleavix-cli: line " << number << ": " << e.what() << "\n";
            return 64;
        } catch (const ScriptError& e) {
            err << "cleavix-cli: line " << number << ": " << e.what() << "\n";
            return 1;
        }
    }
    return 0;
}

} // namespace cleavix::cli
