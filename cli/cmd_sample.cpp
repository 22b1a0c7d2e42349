// info, load, save and demo: checking, loading and writing Wave and AIFF files.
#include "cli/Cli.h"
#include "sample/DemoLoop.h"
#include "sample/WavParser.h"
#include "sample/WavWriter.h"

#include <fstream>
#include <iostream>
#include <vector>

namespace cleavix::cli {

namespace {

nlohmann::json formatJson(const sample::SampleFormat& f) {
    return {{"sampleRate", f.sampleRate}, {"bytesPerSecond", f.bytesPerSecond}, {"bitsPerSample", f.bitsPerSample},
            {"channels", f.channels},     {"dataLength", f.dataLength},         {"sourceBits", f.sourceBits},
            {"saveBits", f.saveBits}};
}

int runInfo(Args& args) {
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    const sample::SampleFileCheck check = sample::CheckSampleFile(file);
    nlohmann::json out = {{"result", check.result}};
    if (check.parsed) {
        const auto& info = check.info;
        out["container"] = info.container == sample::Container::Wave ? "wave" : "aiff";
        out["formatTag"] = info.format.formatTag;
        out["channels"] = info.format.channels;
        out["sampleRate"] = info.format.sampleRate;
        out["bytesPerSecond"] = info.format.bytesPerSecond;
        out["blockAlign"] = info.format.blockAlign;
        out["bitsPerSample"] = info.format.bitsPerSample;
        out["dataLength"] = info.dataLength;
        out["dataOffset"] = info.dataOffset;
    }
    printJson(out);
    if (check.result == sample::CheckUnparseable) {
        std::cerr << "cleavix-cli: Unable to load file;\n\nFile is corrupted or is in an unrecognised format.\n";
    } else if (check.result == sample::CheckUnsupported) {
        std::cerr << "cleavix-cli: "
                  << (check.refusal.empty() ? std::string("File type is unrecognised;\nMust be 16bit uncompressed format")
                                            : check.refusal)
                  << "\n";
    }
    return check.result;
}

int runLoad(Args& args) {
    const auto storeOut = takeOption(args, "--store-out");
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    CliEnv env(defaultSettings());
    if (!env.load(file)) {
        return 1;
    }
    const auto& format = env.session.format();
    if (storeOut) {
        std::ofstream out(*storeOut, std::ios::binary | std::ios::trunc);
        std::vector<char> buffer(65536);
        uint64_t done = 0;
        while (out && done < format.dataLength) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), format.dataLength - done));
            const size_t got = env.session.store().stream().readAt(done, buffer.data(), want);
            if (got == 0) {
                break;
            }
            out.write(buffer.data(), static_cast<std::streamsize>(got));
            done += got;
        }
        if (!finishOutput(out, *storeOut) || done != format.dataLength) {
            std::cerr << "cleavix-cli: cannot write " << *storeOut << "\n";
            return 1;
        }
    }
    printJson(formatJson(format));
    return 0;
}

int runSave(Args& args) {
    const auto bitsText = takeOption(args, "--bits");
    const std::string file = takePositional(args, "FILE");
    const std::string out = takePositional(args, "OUT");
    refuseLeftovers(args);
    CliEnv env(defaultSettings());
    if (!env.load(file)) {
        return 1;
    }
    uint8_t bits = env.session.format().saveBits;
    if (bitsText) {
        const long long value = parseInteger(*bitsText, "--bits");
        if (value != 8 && value != 16) {
            throw UsageError("--bits must be 8 or 16");
        }
        bits = static_cast<uint8_t>(value);
    }
    // No second name to offer: the error question is answered No.
    env.prompter.answer = jobs::Answer::No;
    bool finished = false;
    bool saved = false;
    env.session.saveTo(out, bits, [&](bool ok) {
        finished = true;
        saved = ok;
    });
    env.loop.runUntil([&] { return finished; });
    env.waitIdle();
    if (!saved) {
        std::cerr << "cleavix-cli: " << out << ": " << env.session.lastSaveError() << "\n";
        return 1;
    }
    printJson({{"file", out}, {"bits", bits}, {"container", sample::isAiffName(out) ? "aiff" : "wave"},
               {"dataLength", env.session.format().dataLength}});
    return 0;
}

int runDemo(Args& args) {
    const std::string out = takePositional(args, "OUT.wav");
    refuseLeftovers(args);
    std::string error;
    if (!sample::writeDemoLoop(out, error)) {
        std::cerr << "cleavix-cli: " << out << ": " << error << "\n";
        return 1;
    }
    const sample::DemoLoopInfo info = sample::demoLoopInfo();
    printJson({{"file", out},
               {"sampleRate", info.sampleRate},
               {"channels", info.channels},
               {"frames", info.frames},
               {"tempo", info.tempo},
               {"bars", info.bars},
               {"beats", info.beats},
               {"onsetFrames", info.onsetFrames}});
    return 0;
}

const CommandRegistration infoCommand({"info", "info FILE",
                                       "Checks a Wave or AIFF file as File Open does. Prints {\"result\": 0|1|2,\n"
                                       "\"container\", \"formatTag\", \"channels\", \"sampleRate\", \"bytesPerSecond\",\n"
                                       "\"blockAlign\", \"bitsPerSample\", \"dataLength\", \"dataOffset\"} (the fields\n"
                                       "that could be parsed). 0: loadable; 1: missing, or not 8/16-bit PCM, or too\n"
                                       "large; 2: not a readable Wave or AIFF file. The exit status is the result.",
                                       runInfo});
const CommandRegistration loadCommand({"load", "load FILE [--store-out RAW]",
                                       "Loads FILE into the working store and prints the sample format\n"
                                       "{\"sampleRate\", \"bytesPerSecond\", \"bitsPerSample\", \"channels\",\n"
                                       "\"dataLength\", \"sourceBits\", \"saveBits\"}. --store-out writes the store's\n"
                                       "audio (16-bit little-endian, interleaved) to RAW.",
                                       runLoad});
const CommandRegistration saveCommand({"save", "save FILE OUT [--bits 8|16]",
                                       "Loads FILE and writes the whole sample to OUT: AIFF when OUT ends in .aif\n"
                                       "or .aiff, Wave otherwise; at the file's own bit depth unless --bits says.\n"
                                       "A failed save exits 1 and leaves any existing OUT untouched.",
                                       runSave});
const CommandRegistration demoCommand({"demo", "demo OUT.wav",
                                       "Writes the demo loop (kick, snare and hats, two bars at 120 BPM, 44100 Hz\n"
                                       "stereo) and prints its format and the frame of every hit.",
                                       runDemo});

} // namespace

} // namespace cleavix::cli
