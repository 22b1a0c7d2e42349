// transfer, batch and keymap: the transfer dialogs' commands from the command line, on a
// session whose sampler profiles come from the settings file (the emulated samplers are the
// virtual MIDI port and the S2000 on the virtual SCSI bus).
#include "cli/Cli.h"
#include "cli/ProfileOption.h"
#include "cli/TransferScript.h"
#include "sampler/KeyAssignment.h"
#include "session/SamplerTransfer.h"

#include <cctype>
#include <iostream>

namespace cleavix::cli {

namespace {

using session::SamplerTransfer;

std::string plain(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\r' ? std::string() : std::string(1, c);
    }
    return out;
}

int noteIndexOf(const std::string& note) {
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    std::string upper;
    for (char c : note) {
        upper.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    }
    for (int i = 0; i < 12; ++i) {
        if (upper == names[i]) {
            return i + 1;
        }
    }
    throw UsageError("--note must be C, C#, D, ... B");
}

long long ranged(Args& args, const std::string& name, long long low, long long high, long long fallback) {
    const auto text = takeOption(args, name);
    const long long value = text ? parseInteger(*text, name) : fallback;
    if (value < low || value > high) {
        throw UsageError(name + " must be " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

// --bank, --note, --octave, --interval, --white-keys, --smooth into the key-map settings.
void takeKeyMap(Args& args, session::KeyMapSettings& k) {
    if (const auto bank = takeOption(args, "--bank")) {
        k.bankName = bank->substr(0, 255);
    }
    if (const auto note = takeOption(args, "--note")) {
        k.noteIndex = noteIndexOf(*note);
    }
    k.octave = int(ranged(args, "--octave", -2, 8, k.octave));
    k.interval = int(ranged(args, "--interval", 0, 12, k.interval));
    if (k.interval % 2 != 0) {
        throw UsageError("--interval goes in steps of 2 (0 to 12)");
    }
    k.whiteKeys = takeFlag(args, "--white-keys") || k.whiteKeys;
    if (const auto smooth = takeOption(args, "--smooth")) {
        k.smoothLevel = int(parseInteger(*smooth, "--smooth"));
        if (k.smoothLevel < 0 || k.smoothLevel > 60) {
            throw UsageError("--smooth must be 0 to 60");
        }
        k.smoothBatch = k.smoothLevel > 0;
    }
}

// Where a command's transfer end lands.
struct EndCatch {
    session::TransferEnd end;
    bool ended = false;
    session::TransferDone callback() {
        return [this](const session::TransferEnd& e) {
            end = e;
            ended = true;
        };
    }
};

// Runs the loop until the transfer (and any job it started) has ended; the ticker lets the
// watchdog and the drivers' time-outs look at their deadlines.
void waitTransfer(CliEnv& env, const bool& ended) {
    Ticker ticker(env.loop);
    env.loop.runUntil([&] { return ended; });
    env.waitIdle();
}

void selectProfile(CliEnv& env, Args& args) {
    const auto name = takeOption(args, "--profile");
    if (!name) {
        throw UsageError("missing --profile NAME");
    }
    auto& sampler = env.session.sampler();
    sampler.setProfileStore(takeProfileStore(args));
    sampler.selectProfile(*name);
}

int positionOption(Args& args) { return int(ranged(args, "--position", 0, 32767, 0)); }

nlohmann::json endJson(const session::TransferEnd& end, bool started, const CliEnv& env) {
    return {{"ok", started && end.ok},
            {"aborted", end.aborted},
            {"message", plain(end.message)},
            {"messages", [&] {
                 nlohmann::json list = nlohmann::json::array();
                 for (const auto& m : env.prompter.shown) {
                     list.push_back(plain(m));
                 }
                 return list;
             }()}};
}

nlohmann::json keysJson(const std::optional<sampler::KeyRange>& keys, nlohmann::json& into) {
    if (keys) {
        into["root"] = keys->root;
        into["low"] = keys->low;
        into["high"] = keys->high;
    } else {
        into["root"] = into["low"] = into["high"] = nullptr;
    }
    return into;
}

// The received sample, now the session's, written as a Wave file.
bool writeReceived(CliEnv& env, const std::string& target, nlohmann::json& out) {
    out["name"] = env.session.fileName();
    bool saved = false;
    bool finished = false;
    const bool started = env.session.saveTo(target, 16, [&](bool ok) {
        saved = ok;
        finished = true;
    });
    if (started) {
        env.loop.runUntil([&] { return finished; });
    }
    const auto& f = env.session.format();
    out["file"] = target;
    out["rate"] = f.sampleRate;
    out["channels"] = f.channels;
    out["dataLength"] = f.dataLength;
    return started && saved;
}

int runTransfer(Args& args) {
    if (args.empty()) {
        throw UsageError("missing send, request, wait or list");
    }
    const std::string verb = args.front();
    args.erase(args.begin());
    CliEnv env(defaultSettings());
    selectProfile(env, args);
    auto& sampler = env.session.sampler();
    sampler.roundRate = !takeFlag(args, "--no-round");
    EndCatch caught;
    auto done = caught.callback();
    auto& end = caught.end;
    auto& ended = caught.ended;
    bool started = false;
    std::string target;
    if (verb == "send") {
        const int position = positionOption(args);
        std::optional<std::pair<long long, long long>> loop;
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--loop") {
                if (i + 2 >= args.size()) {
                    throw UsageError("--loop takes L and R");
                }
                loop = {parseInteger(args[i + 1], "L"), parseInteger(args[i + 2], "R")};
                args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i) + 3);
                break;
            }
        }
        const auto side = takeOption(args, "--side");
        const std::string file = takePositional(args, "FILE");
        refuseLeftovers(args);
        if (!env.load(file)) {
            return 1;
        }
        const auto length = env.session.format().dataLength;
        if (loop) {
            if (loop->first < 0 || loop->second < loop->first || loop->second > length) {
                throw UsageError("--loop takes 0 <= L <= R <= " + std::to_string(length));
            }
            env.session.slicer().setLoop(uint32_t(loop->first), uint32_t(loop->second));
        }
        const long long s = side ? parseInteger(*side, "--side") : 0;
        if (side && s != 1 && s != 2) {
            throw UsageError("--side takes 1 or 2");
        }
        started = sampler.sendRegion(position, !side, int(s), done);
    } else if (verb == "request" || verb == "wait") {
        const int position = positionOption(args);
        target = takePositional(args, "OUT.wav");
        refuseLeftovers(args);
        started = sampler.request(position, verb == "wait", done);
    } else if (verb == "list") {
        refuseLeftovers(args);
        started = sampler.listSamples(done);
    } else if (verb == "fetch") {
        const long long number = parseInteger(takePositional(args, "N"), "N");
        target = takePositional(args, "OUT.wav");
        refuseLeftovers(args);
        started = sampler.receiveListed(int32_t(number), done);
    } else {
        throw UsageError("unknown transfer command '" + verb + "'");
    }
    if (started) {
        waitTransfer(env, ended);
    }
    nlohmann::json out = endJson(end, started, env);
    out["command"] = verb;
    out["status"] = sampler.status();
    bool ok = started && end.ok;
    if (ok && !target.empty()) {
        ok = writeReceived(env, target, out);
    }
    if (verb == "list") {
        nlohmann::json rows = nlohmann::json::array();
        for (const auto& row : sampler.listing()) {
            rows.push_back({{"number", row.number},
                            {"name", row.name},
                            {"words", row.lengthWords},
                            {"rate", row.sampleRate},
                            {"channels", row.channels}});
        }
        out["samples"] = rows;
    }
    out["ok"] = ok;
    printJson(out);
    return ok ? 0 : 1;
}

// Adds the files, sends them; the report of the batch.
bool runBatch(CliEnv& env, Args& args, nlohmann::json& out) {
    auto& sampler = env.session.sampler();
    const int position = positionOption(args);
    const bool autoMap = takeFlag(args, "--auto-map");
    takeKeyMap(args, sampler.keyMap);
    std::vector<std::string> files;
    while (!args.empty() && args.front().rfind("--", 0) != 0) {
        files.push_back(args.front());
        args.erase(args.begin());
    }
    refuseLeftovers(args);
    if (files.empty()) {
        throw UsageError("missing FILE...");
    }
    sampler.clearBatch();
    for (const auto& file : files) {
        const std::string refusal = sampler.addBatchFile(file);
        if (!refusal.empty()) {
            std::cerr << "cleavix-cli: " << plain(refusal) << "\n";
            out = {{"sent", nlohmann::json::array()}, {"mapped", false}, {"message", plain(refusal)}};
            return false;
        }
    }
    EndCatch caught;
    auto& end = caught.end;
    const bool started = sampler.batchSend(position, autoMap, caught.callback());
    if (started) {
        waitTransfer(env, caught.ended);
    }
    nlohmann::json sent = nlohmann::json::array();
    for (const auto& s : sampler.lastBatch().sent) {
        nlohmann::json entry = {{"file", s.file}, {"number", s.number}, {"display", s.displayNumber}, {"name", s.name}};
        sent.push_back(keysJson(s.keys, entry));
    }
    out = endJson(end, started, env);
    out["sent"] = sent;
    out["mapped"] = sampler.lastBatch().mapped;
    return started && end.ok;
}

int runBatchCommand(Args& args) {
    CliEnv env(defaultSettings());
    selectProfile(env, args);
    nlohmann::json out;
    const bool ok = runBatch(env, args, out);
    printJson(out);
    return ok ? 0 : 1;
}

int runKeymap(Args& args) {
    const long long count = ranged(args, "--count", 0, 100000, -1);
    if (count < 0) {
        throw UsageError("missing --count N");
    }
    session::KeyMapSettings k;
    takeKeyMap(args, k);
    refuseLeftovers(args);
    const int base = k.baseNote();
    const bool fits = sampler::keysFit(base, k.interval, int(count), k.whiteKeys);
    nlohmann::json keys = nlohmann::json::array();
    if (const auto assigned = sampler::assignKeysFromBase(int(count), base, k.interval, k.whiteKeys)) {
        for (const auto& key : *assigned) {
            keys.push_back({{"root", key.root}, {"low", key.low}, {"high", key.high}});
        }
    }
    printJson({{"baseNote", base}, {"span", k.interval}, {"fits", fits}, {"keys", keys}});
    return 0;
}

const CommandRegistration transferCommand({
    "transfer",
    "transfer send FILE --profile NAME [--position P] [--loop L R] [--side 1|2] | transfer request OUT.wav\n"
    "  --profile NAME --position P | transfer wait OUT.wav --profile NAME [--position P] | transfer list\n"
    "  --profile NAME | transfer fetch N OUT.wav --profile NAME  [--config FILE] [--no-round]",
    "The sample transfer dialog without a window, through the sampler profile NAME (see profiles).\n"
    "send: FILE's loop region (the whole file, or L..R in store bytes) as one sample at position P plus\n"
    "the profile's offset; a stereo file goes as both channels, or only channel 1 or 2 with --side.\n"
    "request: asks for sample P plus offset and writes it to OUT.wav; wait: waits for the sampler to\n"
    "send sample P itself (MIDI profiles). list: the sampler's samples (SCSI profiles). fetch: a listed\n"
    "sample by the sampler's own number. A received rate is rounded to 10 Hz (44000..44200 to 44100)\n"
    "unless --no-round. JSON: {\"command\", \"ok\", \"aborted\", \"message\", \"messages\", \"status\", ...}\n"
    "with \"samples\" for list and {\"file\", \"name\", \"rate\", \"channels\", \"dataLength\"} for a receive;\n"
    "exit status 1 when refused or failed.",
    runTransfer,
});

const CommandRegistration batchCommand({
    "batch",
    "batch FILE... --profile NAME [--position P] [--auto-map] [--bank B --note C --octave O --interval I\n"
    "  --white-keys] [--smooth LEVEL] [--config FILE]",
    "The batch transfer dialog without a window: sends the files one after another to the profile's\n"
    "sampler from sample position P plus the profile's offset, with end-point smoothing LEVEL (0..60)\n"
    "when given; with --auto-map the samples are then laid over the keyboard from the base note\n"
    "(--note, default C; --octave, default 2: C2 = 48) with --interval keys between roots (0..12,\n"
    "steps of 2) or on white keys only: a Yamaha key map, Akai program and keygroups, or E-mu key\n"
    "ranges in each sample header. JSON: {\"sent\": [{\"file\", \"number\", \"display\", \"name\", \"root\",\n"
    "\"low\", \"high\"}], \"mapped\", \"message\", \"messages\", \"ok\", \"aborted\"}; exit status 1 when\n"
    "refused or failed.",
    runBatchCommand,
});

const CommandRegistration keymapCommand({
    "keymap",
    "keymap --count N [--note C] [--octave O] [--interval I] [--white-keys]",
    "The key-map dialog's arithmetic: the base note, whether N samples fit below note 128 (the dialog's\n"
    "OK), and the root, low and high key of each. JSON: {\"baseNote\", \"span\", \"fits\", \"keys\"}.",
    runKeymap,
});

} // namespace

bool isTransferScriptLine(const std::string& command) {
    return command == "profile" || command == "send-region" || command == "request" || command == "batch";
}

bool runTransferScriptLine(CliEnv& env, const std::string& command, Args& args) {
    auto& sampler = env.session.sampler();
    if (command == "profile") {
        auto store = takeProfileStore(args);
        if (args.size() != 1) {
            throw UsageError("usage: profile NAME [--config FILE]");
        }
        sampler.setProfileStore(std::move(store));
        sampler.selectProfile(args[0]);
        return sampler.checkSelected().ok();
    }
    if (command == "batch") {
        nlohmann::json out;
        const bool ok = runBatch(env, args, out);
        printJson(out);
        return ok;
    }
    EndCatch caught;
    auto done = caught.callback();
    auto& end = caught.end;
    auto& ended = caught.ended;
    bool started = false;
    if (command == "send-region") {
        const int position = positionOption(args);
        const auto side = takeOption(args, "--side");
        refuseLeftovers(args);
        const long long s = side ? parseInteger(*side, "--side") : 0;
        if (side && s != 1 && s != 2) {
            throw UsageError("--side takes 1 or 2");
        }
        started = sampler.sendRegion(position, !side, int(s), done);
    } else {
        const int position = positionOption(args);
        const bool wait = takeFlag(args, "--wait");
        const auto number = takeOption(args, "--number");
        refuseLeftovers(args);
        started = number ? sampler.receiveListed(int32_t(parseInteger(*number, "--number")), done)
                         : sampler.request(position, wait, done);
    }
    if (started) {
        waitTransfer(env, ended);
    }
    nlohmann::json out = endJson(end, started, env);
    out["command"] = command;
    printJson(out);
    return started && end.ok;
}

} // namespace cleavix::cli
