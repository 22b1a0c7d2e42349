// midi-devices and sds: MIDI ports and the MIDI Sample Dump Standard from the command line.
#include "cli/Cli.h"
#include "sample/WavParser.h"
#include "sample/WavWriter.h"
#include "sample/WorkFiles.h"
#include "sampler/midi/MidiIn.h"
#include "sampler/midi/MidiOut.h"
#include "sampler/sds/SdsCodec.h"
#include "sampler/sds/SdsDriver.h"
#include "sampler/virtual/MidiBackendList.h"
#include "slicing/WaveSmoother.h"

#include <fstream>
#include <iostream>
#include <mutex>

namespace cleavix::cli {

namespace {

using sampler::midi::MidiDeviceInfo;

nlohmann::json portList(const std::vector<MidiDeviceInfo>& devices) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& device : devices) {
        list.push_back({{"id", device.id}, {"name", device.name}, {"backend", device.backend}});
    }
    return list;
}

// A number from midi-devices, a listed name, or virtual:KEY for a virtual port.
uint8_t resolvePort(const std::vector<MidiDeviceInfo>& devices, const std::string& text, const char* what) {
    for (const auto& device : devices) {
        if (device.name == text || (device.backend == "virtual" && "virtual:" + device.key == text) ||
            std::to_string(device.id) == text) {
            if (device.id > 255) {
                break;
            }
            return uint8_t(device.id);
        }
    }
    throw UsageError(std::string("no MIDI ") + what + " '" + text + "' (see cleavix-cli midi-devices)");
}

// A file's audio, read whole into memory (a sample dump holds at most 2097151 words).
struct SourceFile {
    sample::SampleFileInfo info;
    sample::TFileAndMemoryStream data;
};

std::unique_ptr<SourceFile> readSource(const std::string& fileName) {
    const auto check = sample::CheckSampleFile(fileName);
    if (check.result != sample::CheckLoadable) {
        throw std::runtime_error(fileName + ": " + (check.refusal.empty() ? sample::kMsgUnrecognised : check.refusal));
    }
    auto source = std::make_unique<SourceFile>();
    sample::TWaveDataExtractor extractor(fileName);
    source->info = extractor.info();
    const uint64_t limit = uint64_t(sample::kMaxDataLength);
    if (source->info.dataLength > limit) {
        throw std::runtime_error(fileName + ": too large");
    }
    extractor.readBlock(source->data, 0, size_t(source->info.dataLength));
    return source;
}

struct Wiring {
    explicit Wiring(const std::optional<std::string>& faults)
        : sds(sampler::virt::VirtualSdsSampler::fromEnvironment()),
          backends(sampler::virt::defaultMidiBackends(sampler::virt::makeVirtualMidiBackend(sds))),
          input(loop, backends), output(loop, backends), driver(loop) {
        if (faults) {
            sds->setFaults(*faults);
        }
        input.setCapacity(4096);
        driver.setMidiPorts(&input, &output);
        driver.setSampleSource(&smoother);
        driver.setStatusPanel([](const std::string&) {});
    }
    void capture(const std::optional<std::string>& fileName) {
        if (!fileName) {
            return;
        }
        file.open(*fileName, std::ios::trunc);
        if (!file) {
            throw std::runtime_error("cannot write " + *fileName);
        }
        driver.setCapture([this](char direction, const uint8_t* data, size_t size) {
            std::lock_guard lock(captureMutex);
            file << direction << ' ' << sampler::sds::hexLine(data, size) << '\n';
        });
    }
    jobs::MainLoop loop;
    std::shared_ptr<sampler::virt::VirtualSdsSampler> sds;
    sampler::midi::MidiBackends backends;
    sampler::midi::TMidiInput input;
    sampler::midi::TMidiOutput output;
    slicing::TWaveSmoother smoother;
    sampler::sds::TSDSDriver driver;
    std::mutex captureMutex;
    std::ofstream file;
};

uint8_t channelOption(Args& args) {
    const auto channel = takeOption(args, "--channel");
    const long long c = channel ? parseInteger(*channel, "channel") : 1;
    if (c < 1 || c > 16) {
        throw UsageError("--channel takes 1 to 16");
    }
    return uint8_t(c);
}

int32_t numberOption(Args& args, bool required) {
    const auto number = takeOption(args, "--number");
    if (!number && required) {
        throw UsageError("missing --number N");
    }
    const long long n = number ? parseInteger(*number, "number") : 0;
    if (n < INT32_MIN || n > INT32_MAX) {
        throw UsageError("--number out of range");
    }
    return int32_t(n);
}

void applyTimeout(Args& args, sampler::sds::TSDSDriver& driver) {
    if (const auto timeout = takeOption(args, "--timeout-ms")) {
        const long long ms = parseInteger(*timeout, "time-out");
        if (ms < 1) {
            throw UsageError("--timeout-ms takes a positive number");
        }
        const std::chrono::milliseconds t(ms);
        driver.setTimeouts({t, t, t});
    }
}

int runMidiDevices(Args& args) {
    refuseLeftovers(args);
    const auto backends = sampler::virt::defaultMidiBackends();
    printJson({{"inputs", portList(sampler::midi::listMidiInputs(backends))},
               {"outputs", portList(sampler::midi::listMidiOutputs(backends))}});
    return 0;
}

int runEncode(Args& args) {
    const int32_t number = numberOption(args, false);
    const uint8_t channel = channelOption(args);
    const std::string fileName = takePositional(args, "FILE");
    refuseLeftovers(args);
    const auto source = readSource(fileName);
    if (source->info.format.channels != 1) {
        std::cerr << "cleavix-cli: sds encode takes a mono sample\n";
        return 1;
    }
    slicing::TWaveSmoother::Settings settings;
    settings.input = &source->data;
    settings.inputBits = source->info.format.bitsPerSample == 8 ? 8 : 16;
    settings.length = uint32_t(source->info.dataLength * (settings.inputBits == 8 ? 2 : 1));
    settings.inputOrder = source->info.container == sample::Container::Aiff ? slicing::ByteOrder::Big
                                                                            : slicing::ByteOrder::Little;
    settings.lengthPerChannel = true;
    slicing::TWaveSmoother smoother(settings);
    const uint64_t words = smoother.channelBytes() / 2;
    const std::string refusal = sampler::sds::checkSendable(source->info.format.sampleRate, words, number);
    if (!refusal.empty()) {
        std::cerr << "cleavix-cli: " << refusal << "\n";
        return 1;
    }
    sampler::sds::DumpHeader header;
    header.channel = uint8_t(channel - 1);
    header.sampleNumber = uint32_t(number);
    header.periodNs = sampler::sds::periodForRate(source->info.format.sampleRate);
    header.lengthWords = uint32_t(words);
    header.loopEnd = uint32_t(words);
    const auto bytes = sampler::sds::encodeHeader(header);
    std::cout << sampler::sds::hexLine(bytes.data(), bytes.size()) << "\n";
    int16_t values[sampler::sds::kWordsPerPacket];
    uint8_t packet = 0;
    for (uint64_t left = words; left > 0; packet = uint8_t((packet + 1) & 0x7F)) {
        const size_t count = size_t(std::min<uint64_t>(left, sampler::sds::kWordsPerPacket));
        smoother.read(values, count);
        const auto p = sampler::sds::encodePacket(header.channel, packet, values, count);
        std::cout << sampler::sds::hexLine(p.data(), p.size()) << "\n";
        left -= count;
    }
    return 0;
}

int runSend(Args& args) {
    Wiring wiring(takeOption(args, "--fault"));
    const auto out = takeOption(args, "--out");
    const auto in = takeOption(args, "--in");
    const int32_t number = numberOption(args, false);
    const uint8_t channel = channelOption(args);
    const bool openLoop = takeFlag(args, "--open-loop");
    std::optional<std::pair<long long, long long>> loop;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--loop") {
            if (i + 2 >= args.size()) {
                throw UsageError("--loop takes L and R");
            }
            loop = {parseInteger(args[i + 1], "loop start"), parseInteger(args[i + 2], "loop end")};
            args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i) + 3);
            break;
        }
    }
    const auto side = takeOption(args, "--side");
    const auto smooth = takeOption(args, "--smooth");
    applyTimeout(args, wiring.driver);
    wiring.capture(takeOption(args, "--capture"));
    const std::string fileName = takePositional(args, "FILE");
    refuseLeftovers(args);
    if (!out) {
        throw UsageError("missing --out DEV");
    }
    sampler::SamplerProfile profile;
    profile.midiOutput = resolvePort(wiring.output.devices(), *out, "output");
    profile.midiChannel = channel;
    profile.openLoop = openLoop ? 1 : 0;
    if (!openLoop) {
        // A virtual endpoint answers on its own input; hardware needs --in.
        const std::string inName = in ? *in : (out->rfind("virtual:", 0) == 0 ? *out : "");
        if (inName.empty()) {
            throw UsageError("--in DEV is needed unless --open-loop");
        }
        profile.midiInput = resolvePort(wiring.input.devices(), inName, "input");
    }
    wiring.driver.setProfile(profile);
    if (loop) {
        if (loop->first < 0 || loop->second < loop->first || loop->second > 0x1FFFFF) {
            throw UsageError("--loop takes 0 <= L <= R <= 2097151 (words)");
        }
        wiring.driver.setLoop(uint32_t(loop->first), uint32_t(loop->second), sampler::sds::kLoopForward);
    }
    auto settings = wiring.smoother.settings();
    settings.level = smooth ? int(parseInteger(*smooth, "smoothing level")) : 0;
    if (settings.level < 0 || settings.level > 60) {
        throw UsageError("--smooth takes 0 to 60");
    }
    wiring.smoother.configure(settings);

    const auto source = readSource(fileName);
    const auto& format = source->info.format;
    const uint32_t sampleBytes = format.bitsPerSample == 8 ? 1 : 2;
    sampler::SendSampleArgs send;
    send.sampleNumber = number;
    send.channels = uint8_t(format.channels);
    send.sampleRate = format.sampleRate;
    send.bits = uint8_t(format.bitsPerSample);
    send.bigEndian = source->info.container == sample::Container::Aiff;
    send.fromFile = true;
    send.single = true;
    const uint64_t frames = source->info.dataLength / (uint64_t(sampleBytes) * format.channels);
    send.length = uint32_t(std::min<uint64_t>(frames * 2, UINT32_MAX - 1));
    if (format.channels == 2) {
        const long long s = side ? parseInteger(*side, "side") : 0;
        if (side && s != 1 && s != 2) {
            throw UsageError("--side takes 1 or 2");
        }
        send.keepStereo = !side;
        send.channelsToSend = side ? 1 : 2;
        send.start = s == 2 ? sampleBytes : 0;
    }
    bool ended = false;
    send.next = [&] { ended = true; };
    wiring.driver.setSourceStream(&source->data);
    wiring.driver.clearError();
    wiring.driver.sendSample(send);
    wiring.loop.runUntil([&] { return ended; });
    const auto report = wiring.driver.lastSend();
    const bool failed = wiring.driver.hasError();
    printJson({{"packets", report.packets},
               {"resends", report.resends},
               {"naks", report.naks},
               {"waits", report.waits},
               {"aborted", failed && report.aborted},
               {"error", report.error},
               {"lengthWords", report.lengthWords},
               {"period", report.period}});
    return failed ? 1 : 0;
}

int runReceive(Args& args) {
    Wiring wiring(takeOption(args, "--fault"));
    const auto in = takeOption(args, "--in");
    const auto out = takeOption(args, "--out");
    const int32_t number = numberOption(args, true);
    const uint8_t channel = channelOption(args);
    const bool openLoop = takeFlag(args, "--open-loop");
    applyTimeout(args, wiring.driver);
    wiring.capture(takeOption(args, "--capture"));
    const std::string target = takePositional(args, "OUT.wav");
    refuseLeftovers(args);
    if (!in) {
        throw UsageError("missing --in DEV");
    }
    sampler::SamplerProfile profile;
    profile.midiInput = resolvePort(wiring.input.devices(), *in, "input");
    const std::string outName = out ? *out : (in->rfind("virtual:", 0) == 0 ? *in : "");
    // The Dump Request always needs an output; waiting for a dump (N >= 100000) in open loop does not.
    if (outName.empty() && (!openLoop || number < 100000)) {
        throw UsageError("--out DEV is needed to ask for a sample");
    }
    if (!outName.empty()) {
        profile.midiOutput = resolvePort(wiring.output.devices(), outName, "output");
    }
    profile.midiChannel = channel;
    profile.openLoop = openLoop ? 1 : 0;
    wiring.driver.setProfile(profile);
    sample::TFileAndMemoryStream received;
    wiring.driver.setSampleStore(&received);
    const char* temp = std::getenv("CLEAVIX_TEMP");
    wiring.driver.setScratchFolder(sample::workingDirectory(temp ? temp : ""));
    bool ended = false;
    sampler::ReceivedSample result;
    wiring.driver.clearError();
    wiring.driver.receiveSample(number, [&](const sampler::ReceivedSample& r) {
        result = r;
        ended = true;
    });
    wiring.loop.runUntil([&] { return ended; });
    if (result.channels != 0) {
        sample::WriteRequest request;
        request.fileName = target;
        request.length = result.bytes;
        request.layout = sample::LayoutMono;
        request.sampleChannels = 1;
        request.sampleRate = result.sampleRate;
        const auto written = sample::WriteSplit(request, received, nullptr);
        if (!written.ok) {
            result = {0, 0, 0, "cannot write " + target + ": " + written.error};
        }
    }
    printJson({{"rate", result.sampleRate},
               {"channels", result.channels},
               {"dataLength", result.bytes},
               {"error", result.error}});
    return result.channels == 0 ? 1 : 0;
}

int runSds(Args& args) {
    if (args.empty()) {
        throw UsageError("missing encode, send or receive");
    }
    const std::string what = args.front();
    args.erase(args.begin());
    if (what == "encode") {
        return runEncode(args);
    }
    if (what == "send") {
        return runSend(args);
    }
    if (what == "receive") {
        return runReceive(args);
    }
    throw UsageError("unknown sds command '" + what + "'");
}

const CommandRegistration midiDevicesCommand{
    {"midi-devices", "midi-devices",
     "Lists the MIDI inputs and outputs as JSON: {\"inputs\": [...], \"outputs\": [...]}, each with its\n"
     "number (\"id\"), its name and its backend (\"rawmidi\" for hardware, \"seq\" for ALSA sequencer\n"
     "clients, \"virtual\"). The virtual ports come last: \"Cleavix virtual cable\" (bytes written come\n"
     "back in) and \"Cleavix virtual SDS sampler\" (an emulated sample dump sampler).",
     runMidiDevices}};

const CommandRegistration sdsCommand{
    {"sds",
     "sds encode FILE [--number N] [--channel C] | sds send FILE --out DEV [--in DEV] [--number N]\n"
     "  [--channel C] [--open-loop] [--loop L R] [--side 1|2] [--smooth LEVEL] [--timeout-ms T]\n"
     "  [--capture FILE] [--fault LIST] | sds receive OUT.wav --in DEV [--out DEV] --number N\n"
     "  [--channel C] [--open-loop] [--timeout-ms T] [--capture FILE] [--fault LIST]",
     "MIDI Sample Dump Standard. encode prints the Dump Header and Data Packets of a mono sample, one\n"
     "message a line in upper-case hex (no smoothing). send sends FILE as sample N (default 0) on MIDI\n"
     "channel C (default 1) with the handshake, or without it (--open-loop); a stereo file is sent as\n"
     "the mix of its channels unless --side picks one; --loop sets a forward sustain loop (words);\n"
     "--smooth fades the end (0..60). It prints {packets, resends, naks, waits, aborted, error,\n"
     "lengthWords, period} and exits 1 when the transfer failed. receive asks for sample N (or, with\n"
     "N >= 100000, waits for the sampler to dump sample N - 100000) and writes it to OUT.wav; it\n"
     "prints {rate, channels, dataLength, error} and exits 1 on failure. DEV is a number from\n"
     "midi-devices, a name, virtual:sds (the emulated sampler) or virtual:cable (the loopback).\n"
     "--timeout-ms sets every wait (defaults: header 10 s, packet 5 s, between packets 10 s).\n"
     "--capture writes every message sent (\"> \") and received (\"< \"), one a line. --fault (or\n"
     "$CLEAVIX_VIRTUAL_FAULTS) makes the emulated sampler misbehave, e.g. nak:3,wait:header; the\n"
     "emulated sampler keeps its samples in $CLEAVIX_VIRTUAL_SAMPLERS when that names a folder.",
     runSds}};

} // namespace

} // namespace cleavix::cli
