// scan, slice, tempo, export, render and points: the slice point search and what follows from it.
#include "cli/Cli.h"
#include "cli/SamplerOptions.h"
#include "cli/SliceSearch.h"
#include "slicing/Slicer.h"

#include <iostream>

namespace cleavix::cli {

namespace {

// "--loop L R": byte positions of the locators.
std::optional<std::pair<uint32_t, uint32_t>> takeLoop(Args& args) {
    const auto it = std::find(args.begin(), args.end(), "--loop");
    if (it == args.end()) {
        return std::nullopt;
    }
    if (args.end() - it < 3) {
        throw UsageError("--loop needs two positions");
    }
    const long long left = parseInteger(*(it + 1), "--loop L");
    const long long right = parseInteger(*(it + 2), "--loop R");
    if (left < 0 || right < left || right > 0xFFFFFFFFLL) {
        throw UsageError("--loop needs 0 <= L <= R");
    }
    args.erase(it, it + 3);
    return std::make_pair(uint32_t(left), uint32_t(right));
}

double takePercent(Args& args) {
    const auto text = takeOption(args, "--sensitivity");
    if (!text) {
        throw UsageError("--sensitivity PCT is required");
    }
    const double percent = parseNumber(*text, "--sensitivity");
    if (percent < 0 || percent > 100) {
        throw UsageError("--sensitivity must lie between 0 and 100");
    }
    return percent;
}

nlohmann::json pointsJson(const slicing::PointTable& table) {
    nlohmann::json list = nlohmann::json::array();
    for (int k = 1; k <= table.count(); ++k) {
        const slicing::SlicePoint& p = table.at(k);
        list.push_back({{"position", p.position},
                        {"strength", p.strength},
                        {"enabled", p.enabled != 0},
                        {"locked", p.locked != 0},
                        {"channel", p.channel}});
    }
    return list;
}

nlohmann::json candidatesJson(CliEnv& env) {
    const auto& slicer = env.session.slicer();
    return {{"dataLength", env.session.format().dataLength},
            {"channels", env.session.format().channels},
            {"limitReached", slicer.lastSearch().limitReached},
            {"candidates", pointsJson(slicer.candidates())}};
}

int runScan(Args& args) {
    const SearchOptions options = takeSearchOptions(args);
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    CliEnv env(defaultSettings());
    if (!loadAndSearch(env, file, options)) {
        return 1;
    }
    printJson(candidatesJson(env));
    return 0;
}

int runSlice(Args& args) {
    const SearchOptions options = takeSearchOptions(args);
    const double percent = takePercent(args);
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    CliEnv env(defaultSettings());
    if (!loadAndSearch(env, file, options)) {
        return 1;
    }
    auto& slicer = env.session.slicer();
    slicer.setSlider(slicing::sliderForPercent(percent));
    printJson({{"dataLength", env.session.format().dataLength},
               {"channels", env.session.format().channels},
               {"slider", slicer.slider()},
               {"threshold", slicer.threshold()},
               {"points", pointsJson(slicer.slicePoints())}});
    return 0;
}

int runTempo(Args& args) {
    const auto bars = takeOption(args, "--bars");
    const auto beats = takeOption(args, "--beats");
    const auto loop = takeLoop(args);
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    if (!bars || !beats) {
        throw UsageError("--bars and --beats are required");
    }
    CliEnv env(defaultSettings());
    if (!env.load(file)) {
        return 1;
    }
    auto& slicer = env.session.slicer();
    if (loop) {
        slicer.setLoop(loop->first, loop->second);
    }
    if (!slicer.setBarsAndBeats(*bars, *beats)) {
        throw UsageError("--bars and --beats must be whole numbers from 0 to 32767");
    }
    printJson({{"tempo", double(slicer.tempo().tempo)}, {"text", slicer.tempo().text}});
    return 0;
}

// The instrument files of export and the key-map options that shape them.
struct InstrumentOptions {
    slicing::instrument::Request request;
    bool any = false;
};

InstrumentOptions takeInstrumentOptions(Args& args) {
    InstrumentOptions out;
    auto& r = out.request;
    r.sfzFile = takeOption(args, "--sfz").value_or("");
    r.midiFile = takeOption(args, "--midi").value_or("");
    r.hydrogenDir = takeOption(args, "--hydrogen").value_or("");
    out.any = !r.sfzFile.empty() || !r.midiFile.empty() || !r.hydrogenDir.empty();
    auto& o = r.options;
    if (const auto bank = takeOption(args, "--bank")) {
        if (bank->size() > 255) {
            throw UsageError("--bank takes at most 255 characters");
        }
        o.name = *bank;
    }
    if (const auto note = takeOption(args, "--note")) {
        o.keys.noteIndex = noteIndexOf(*note);
    }
    if (const auto octave = takeOption(args, "--octave")) {
        const long long value = parseInteger(*octave, "--octave");
        if (value < -2 || value > 8) {
            throw UsageError("--octave must lie between -2 and 8");
        }
        o.keys.octave = int(value);
    }
    if (const auto interval = takeOption(args, "--interval")) {
        const long long value = parseInteger(*interval, "--interval");
        if (value < 0 || value > 12 || value % 2 != 0) {
            throw UsageError("--interval must be 0, 2, 4, ... 12");
        }
        o.keys.interval = int(value);
    }
    o.keys.whiteKeys = takeFlag(args, "--white-keys");
    if (o.keys.whiteKeys) {
        // As the key-map dialog: white keys go up from C with no interval.
        o.keys.noteIndex = 1;
        o.keys.interval = 0;
    }
    o.reverseNotes = takeFlag(args, "--reverse-notes");
    o.baseNoteOnly = takeFlag(args, "--base-note-only");
    o.soundFontFilter = takeFlag(args, "--sf-filter");
    return out;
}

int runExport(Args& args) {
    const SearchOptions options = takeSearchOptions(args);
    const double percent = takePercent(args);
    const auto out = takeOption(args, "--out");
    const auto loop = takeLoop(args);
    const auto bits = takeOption(args, "--bits");
    const auto smooth = takeOption(args, "--smooth");
    const auto channel = takeOption(args, "--channel");
    const auto grid = takeOption(args, "--grid");
    const auto bars = takeOption(args, "--bars");
    const auto beats = takeOption(args, "--beats");
    InstrumentOptions instrument = takeInstrumentOptions(args);
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    if (!out) {
        throw UsageError("--out NAME.wav|NAME.aif is required");
    }
    int selection = 3;
    if (channel) {
        if (!options.unlinked) {
            throw UsageError("--channel needs --unlinked");
        }
        selection = *channel == "left" ? 1 : *channel == "right" ? 2 : *channel == "both" ? 3 : 0;
        if (selection == 0) {
            throw UsageError("--channel must be left, right or both");
        }
    }
    const long long saveBits = bits ? parseInteger(*bits, "--bits") : 0;
    if (bits && saveBits != 8 && saveBits != 16) {
        throw UsageError("--bits must be 8 or 16");
    }
    const long long level = smooth ? parseInteger(*smooth, "--smooth") : 0;
    if (level < 0 || level > 60) {
        throw UsageError("--smooth must lie between 0 and 60");
    }
    if (bars.has_value() != beats.has_value()) {
        throw UsageError("--bars and --beats go together");
    }
    slicing::GridDivision division = slicing::GridDivision::Sixteenths;
    if (grid) {
        const long long d = parseInteger(*grid, "--grid");
        if (d != 8 && d != 16 && d != 32) {
            throw UsageError("--grid must be 8, 16 or 32");
        }
        if (!bars || !beats) {
            throw UsageError("--grid needs --bars and --beats");
        }
        division = static_cast<slicing::GridDivision>(d);
    }

    CliEnv env(defaultSettings());
    env.prompter.answer = jobs::Answer::No; // a failed export is reported, not retried under a new name
    if (!loadAndSearch(env, file, options)) {
        return 1;
    }
    auto& slicer = env.session.slicer();
    slicer.channelMode().selection = selection;
    slicer.setSlider(slicing::sliderForPercent(percent));
    if (loop) {
        slicer.setLoop(loop->first, loop->second);
    }
    if (bars && !slicer.setBarsAndBeats(*bars, *beats)) {
        throw UsageError("--bars and --beats must be whole numbers from 0 to 32767");
    }
    if (grid) {
        bool placed = false;
        slicer.cutLoopTo(division, [&](bool ok) { placed = ok; });
        env.waitIdle();
        if (!placed) {
            std::cerr << "cleavix-cli: the grid cut was refused\n";
            return 1;
        }
    }
    slicer.exportSettings.smoothEndPoints = level > 0;
    slicer.exportSettings.smoothLevel = int(level);
    auto& request = instrument.request;
    request.slicesName = *out;
    request.bits = bits ? uint8_t(saveBits) : env.session.format().saveBits;
    slicing::instrument::Report report;
    std::string refused;
    bool finished = false;
    if (!env.session.exportSlices(request,
                                  [&](const slicing::instrument::Report& r) {
                                      report = r;
                                      finished = true;
                                  },
                                  &refused)) {
        std::cerr << "cleavix-cli: " << (refused.empty() ? std::string("the export could not start") : refused)
                  << "\n";
        return 1;
    }
    env.loop.runUntil([&] { return finished; });
    env.waitIdle();
    nlohmann::json json{{"files", report.slices.written}, {"failed", report.slices.failed}};
    if (instrument.any) {
        json["instrument"] = {{"written", report.written}, {"failed", report.failed}};
    }
    printJson(json);
    return report.ok() ? 0 : 1;
}

int runRender(Args& args) {
    const SearchOptions options = takeSearchOptions(args);
    const auto tempoText = takeOption(args, "--tempo");
    const auto bars = takeOption(args, "--bars");
    const auto beats = takeOption(args, "--beats");
    const auto sensitivity = takeOption(args, "--sensitivity");
    const auto loop = takeLoop(args);
    const auto bits = takeOption(args, "--bits");
    const std::string file = takePositional(args, "FILE");
    const std::string out = takePositional(args, "OUT");
    refuseLeftovers(args);
    if (!tempoText || !bars || !beats) {
        throw UsageError("render needs --tempo BPM, --bars B and --beats C");
    }
    const double tempo = parseNumber(*tempoText, "--tempo");
    if (!(tempo > 0) || tempo > 100000) {
        throw UsageError("--tempo must be a number of beats per minute above 0");
    }
    const double percent = sensitivity ? parseNumber(*sensitivity, "--sensitivity") : 50.0;
    if (percent < 0 || percent > 100) {
        throw UsageError("--sensitivity must lie between 0 and 100");
    }
    const long long saveBits = bits ? parseInteger(*bits, "--bits") : 0;
    if (bits && saveBits != 8 && saveBits != 16) {
        throw UsageError("--bits must be 8 or 16");
    }
    CliEnv env(defaultSettings());
    if (!loadAndSearch(env, file, options)) {
        return 1;
    }
    auto& slicer = env.session.slicer();
    slicer.setSlider(slicing::sliderForPercent(percent));
    if (loop) {
        slicer.setLoop(loop->first, loop->second);
    }
    if (!slicer.setBarsAndBeats(*bars, *beats)) {
        throw UsageError("--bars and --beats must be whole numbers from 0 to 32767");
    }
    sample::WriteResult result;
    std::string refused;
    bool finished = false;
    const uint8_t depth = bits ? uint8_t(saveBits) : env.session.format().saveBits;
    if (!env.session.saveRegionAtTempo(out, depth, tempo,
                                       [&](const sample::WriteResult& r) {
                                           result = r;
                                           finished = true;
                                       },
                                       &refused)) {
        std::cerr << "cleavix-cli: " << (refused.empty() ? std::string("the rendering could not start") : refused)
                  << "\n";
        return 1;
    }
    env.loop.runUntil([&] { return finished; });
    env.waitIdle();
    if (!result.ok) {
        std::cerr << "cleavix-cli: " << out << ": " << result.error << "\n";
        return 1;
    }
    printJson({{"written", out},
               {"fromTempo", double(slicer.tempo().tempo)},
               {"tempo", tempo},
               {"slices", slicer.slicePoints().count() + 1}});
    return 0;
}

int runPoints(Args& args) {
    const auto save = takeOption(args, "--save");
    const auto load = takeOption(args, "--load");
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    if (save.has_value() == load.has_value()) {
        throw UsageError("give exactly one of --save OUT.clx and --load IN.clx");
    }
    CliEnv env(defaultSettings());
    if (save) {
        if (!loadAndSearch(env, file, {})) {
            return 1;
        }
        const auto result = env.session.slicer().savePoints(*save);
        if (!result.ok) {
            std::cerr << "cleavix-cli: " << result.error << "\n";
            return 1;
        }
        printJson({{"saved", *save}, {"count", env.session.slicer().candidates().count()}});
        return 0;
    }
    if (!env.load(file)) {
        return 1;
    }
    const auto result = env.session.slicer().loadPoints(*load);
    if (!result.ok) {
        std::string text = result.error;
        std::erase(text, '\r');
        std::cerr << "cleavix-cli: " << text << "\n";
        return 1;
    }
    printJson(candidatesJson(env));
    return 0;
}

const CommandRegistration scanCommand({"scan", "scan FILE [--unlinked] [--width PX]",
                                       "Loads FILE and searches it for slice points. Prints {\"dataLength\", "
                                       "\"channels\", \"limitReached\", \"candidates\": [{\"position\", \"strength\", "
                                       "\"enabled\", \"locked\", \"channel\"}, ...]} for every candidate in list order. "
                                       "Positions are byte offsets into the 16-bit store; channel 2 is a point of the "
                                       "first stereo channel, 1 of the second (or mono). Stereo is linked (\"L + R\") "
                                       "unless --unlinked; --width is the waveform view's width in pixels (default "
                                       "1000), which sets how close linked points may lie. limitReached tells that the "
                                       "search stopped at 8192 candidates.",
                                       runScan});

const CommandRegistration sliceCommand({"slice", "slice FILE --sensitivity PCT [--unlinked] [--width PX]",
                                        "Searches FILE as scan does and prints the slice points at a sensitivity of "
                                        "PCT per cent (slider round(PCT / 100 * 65535), threshold 65535 - slider - 1): "
                                        "{\"dataLength\", \"channels\", \"slider\", \"threshold\", \"points\": [...]} "
                                        "with the fields of scan.",
                                        runSlice});

const CommandRegistration tempoCommand({"tempo", "tempo FILE --bars B --beats C [--loop L R]",
                                        "Prints the tempo of the loop region (the whole sample unless --loop gives the "
                                        "locators as byte positions) spanning B bars and C beats of 4/4: {\"tempo\", "
                                        "\"text\": \"120.000 BPM\"}. With 0 bars and 0 beats the tempo stays 0.",
                                        runTempo});

const CommandRegistration exportCommand(
    {"export",
     "export FILE --out NAME.wav|NAME.aif --sensitivity PCT [--loop L R] [--bits 8|16] [--smooth LEVEL] "
     "[--unlinked --channel left|right|both] [--bars B --beats C] [--grid 8|16|32] [--sfz NAME.sfz] "
     "[--midi NAME.mid] [--hydrogen DIR] [--bank NAME] [--note C --octave O --interval I | --white-keys] "
     "[--reverse-notes] [--base-note-only] [--sf-filter]",
     "Save Segments in Loop: searches FILE, takes the slice points at PCT per cent (or, with --grid, cuts the loop "
     "to 8ths, 16ths or 32nds of B bars and C beats), and writes every segment between the locators as a numbered "
     "file: NAME01.wav, NAME02.wav, ... (NAME01L.wav and NAME01R.wav per channel for --unlinked). --smooth 1..60 "
     "fades each file's end from its own decay. Beside them: --sfz writes an SFZ instrument (one one-shot region "
     "per slice file, named relative to the SFZ), --midi a Standard MIDI File (format 0, 480 ticks per quarter) "
     "playing each slice's key at its start, held to the next, at the tempo of B bars and C beats (required), "
     "--hydrogen a Hydrogen drum kit folder (drumkit.xml and its own copy of each slice, one instrument each). "
     "Keys as the key map lays them: base note --note (C..B, default C) in --octave (default 2, C2 = key 48), "
     "--interval 0..12 keys between roots, or --white-keys from C; --bank names the instrument, kit and MIDI "
     "track (default Vantrel). --reverse-notes plays the MIDI notes from the last key down, --base-note-only "
     "plays every MIDI note on the base note with one program change per slice, --sf-filter puts the SoundFont "
     "filter-cutoff NRPN (120/8) at the start of the MIDI file. Refused before anything is written: no tempo for "
     "--midi, more slices than keys, both channels of unlinked stereo, bad or special targets. Prints "
     "{\"files\": [names written], \"failed\": [...], \"instrument\": {\"written\", \"failed\"}}; exits 1 when any "
     "file failed.",
     runExport});

const CommandRegistration renderCommand(
    {"render",
     "render FILE OUT --tempo BPM --bars B --beats C [--sensitivity PCT] [--loop L R] [--bits 8|16] [--unlinked] "
     "[--width PX]",
     "Save Region at Tempo: searches FILE, takes the slice points at PCT per cent (default 50), and writes the loop "
     "region (B bars and C beats of 4/4, which give its own tempo) re-triggered at BPM: each slice starts at its "
     "time scaled by own tempo / BPM and plays its own audio until the next slice starts or it ends, with a short "
     "fade where it is cut short or silence follows. At the loop's own tempo OUT is the loop itself. Prints "
     "{\"written\", \"fromTempo\", \"tempo\", \"slices\"}.",
     runRender});

const CommandRegistration pointsCommand(
    {"points", "points FILE (--save OUT.clx | --load IN.clx)",
     "--save searches FILE and writes its candidates as a point file (98320 bytes), printing {\"saved\", "
     "\"count\"}. --load loads FILE, reads the point file into it (points beyond the sample's end are dropped) and "
     "prints the candidates as scan does. A damaged point file is refused with exit status 1.",
     runPoints});

} // namespace

} // namespace cleavix::cli
