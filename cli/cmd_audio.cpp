// devices, play and record: the audio engine through the session's wave devices (ALSA's when the
// build has them).
#include "audio/AudioDriver.h"
#include "audio/MeterData.h"
#include "cli/Cli.h"
#include "cli/SliceSearch.h"
#include "slicing/SliceSearch.h"
#include "slicing/Slicer.h"
#include "sample/WavWriter.h"
#include "sample/WorkFiles.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <iostream>

namespace cleavix::cli {

namespace {

using Clock = std::chrono::steady_clock;
// How long play waits past the audio's own length before it gives up on the device.
constexpr double kPlayGraceSeconds = 10.0;

nlohmann::json deviceList(const std::vector<audio::WaveDeviceInfo>& devices) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& device : devices) {
        list.push_back({{"id", device.id}, {"name", device.name}, {"productName", device.productName}});
    }
    return list;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int runDevices(Args& args) {
    refuseLeftovers(args);
    CliEnv env(defaultSettings());
    auto& provider = env.session.devices();
    printJson({{"outputs", deviceList(provider.outputs())}, {"inputs", deviceList(provider.inputs())}});
    return 0;
}

// --tempo BPM with the slice points and the loop's own tempo it needs.
struct TempoOptions {
    double tempo = 0;
    std::string bars;
    std::string beats;
    double percent = 50;
    SearchOptions search;
};

std::optional<TempoOptions> takeTempoOptions(Args& args) {
    const auto tempo = takeOption(args, "--tempo");
    const auto bars = takeOption(args, "--bars");
    const auto beats = takeOption(args, "--beats");
    const auto sensitivity = takeOption(args, "--sensitivity");
    if (!tempo) {
        if (bars || beats || sensitivity) {
            throw UsageError("--bars, --beats and --sensitivity go with --tempo");
        }
        return std::nullopt; // --unlinked and --width are then left over, and refused
    }
    const SearchOptions search = takeSearchOptions(args);
    if (!bars || !beats) {
        throw UsageError("--tempo needs --bars B and --beats C");
    }
    TempoOptions options{parseNumber(*tempo, "--tempo"), *bars, *beats, 50, search};
    if (!(options.tempo > 0) || options.tempo > 100000) {
        throw UsageError("--tempo must be a number of beats per minute above 0");
    }
    if (sensitivity) {
        options.percent = parseNumber(*sensitivity, "--sensitivity");
        if (options.percent < 0 || options.percent > 100) {
            throw UsageError("--sensitivity must lie between 0 and 100");
        }
    }
    return options;
}

int runPlay(Args& args) {
    const auto device = takeOption(args, "--device");
    const auto times = takeOption(args, "--times");
    const auto bufferSize = takeOption(args, "--buffer-size");
    const auto bufferCount = takeOption(args, "--buffer-count");
    const auto tempo = takeTempoOptions(args);
    std::optional<std::pair<long long, long long>> loop;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--loop") {
            if (i + 2 >= args.size()) {
                throw UsageError("--loop needs L and R");
            }
            loop = {parseInteger(args[i + 1], "L"), parseInteger(args[i + 2], "R")};
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 3);
            break;
        }
    }
    const std::string file = takePositional(args, "FILE");
    refuseLeftovers(args);
    const long long passes = times ? parseInteger(*times, "--times") : 1;
    if (passes < 1) {
        throw UsageError("--times must be at least 1");
    }
    if (times && !loop) {
        throw UsageError("--times goes with --loop");
    }

    CliEnv env(defaultSettings());
    if (tempo ? !loadAndSearch(env, file, tempo->search) : !env.load(file)) {
        return 1;
    }
    const auto& format = env.session.format();
    audio::twabeAudio& player = env.session.player();
    player.setDeviceID(resolveDevice(env.session.devices(), device));
    player.Channels = static_cast<uint8_t>(format.channels);
    player.SampleRate = format.sampleRate;
    player.BitsPerSample = 16;
    if (bufferSize) {
        player.BufferSize = static_cast<uint8_t>(std::clamp<long long>(parseInteger(*bufferSize, "--buffer-size"), 1, 10));
    }
    if (bufferCount) {
        player.BufferCount =
            static_cast<uint8_t>(std::clamp<long long>(parseInteger(*bufferCount, "--buffer-count"), 1, 10));
    }
    uint64_t start = 0;
    uint64_t length = format.dataLength;
    if (loop) {
        if (loop->first < 0 || loop->second < loop->first || static_cast<uint64_t>(loop->second) > format.dataLength) {
            throw UsageError("--loop needs 0 <= L <= R <= " + std::to_string(format.dataLength));
        }
        start = format.frameStart(static_cast<uint32_t>(loop->first));
        length = format.frameStart(static_cast<uint32_t>(loop->second)) - start;
        player.LoopLimit = static_cast<uint64_t>(passes);
    }
    // At another tempo the region is rendered slice by slice as the player reads it.
    std::shared_ptr<audio::PlaySource> rendering;
    auto& slicer = env.session.slicer();
    if (tempo) {
        slicer.setSlider(slicing::sliderForPercent(tempo->percent));
        if (loop) {
            slicer.setLoop(uint32_t(loop->first), uint32_t(loop->second));
        }
        if (!slicer.setBarsAndBeats(tempo->bars, tempo->beats)) {
            throw UsageError("--bars and --beats must be whole numbers from 0 to 32767");
        }
        std::string refused;
        rendering = env.session.loopAtTempo(slicer.left(), slicer.right(), tempo->tempo, &refused);
        if (!refused.empty()) {
            std::cerr << "cleavix-cli: " << refused << "\n";
            return 1;
        }
        if (rendering) {
            start = 0;
            length = rendering->length();
        }
    }
    const int code = player.OpenOutput();
    if (code != 0) {
        return 1;
    }
    int ends = 0;
    player.OnWaveoutput = [&](audio::twabeAudio&) { ++ends; };

    const double cpuBefore = cpuSeconds();
    const auto started = Clock::now();
    if (rendering) {
        player.PlayRendered(rendering, loop.has_value());
    } else {
        player.PlayRegion(start, length, loop.has_value());
    }
    // The time until the ALSA thread handed the first bytes to alsa-lib.
    double firstBytesMs = -1;
    if (auto* out = player.outputDevice(); out != nullptr && length > 0) {
        while (out->bytesHandedOver() == 0 && Clock::now() - started < std::chrono::seconds(5)) {
            std::this_thread::yield();
        }
        if (out->bytesHandedOver() > 0) {
            firstBytesMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        }
    }
    const uint64_t bytes = length * (loop ? static_cast<uint64_t>(passes) : 1u);
    const double audioSeconds = double(bytes) / format.blockAlign() / std::max<uint32_t>(1, format.sampleRate);
    // A device that stops giving buffers back must not hold the command for good.
    const auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(audioSeconds + kPlayGraceSeconds));
    bool timedOut = false;
    {
        Ticker ticker(env.loop);
        env.loop.runUntil([&] {
            timedOut = Clock::now() > deadline;
            return ends > 0 || timedOut;
        });
    }
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    const double cpu = cpuSeconds() - cpuBefore;
    player.CloseOutput();
    env.loop.runPending();

    nlohmann::json json{{"file", file},
               {"device", player.ProductName()},
               {"start", start},
               {"length", length},
               {"loop", loop.has_value()},
               {"passes", loop ? passes : 1},
               {"bytesPlayed", bytes},
               {"audioSeconds", audioSeconds},
               {"wallSeconds", wall},
               {"cpuSeconds", cpu},
               {"firstBytesMs", firstBytesMs},
               {"timedOut", timedOut}};
    if (tempo) {
        json["tempo"] = tempo->tempo;
        json["fromTempo"] = double(slicer.tempo().tempo);
        json["rendered"] = rendering != nullptr;
        json["slices"] = slicer.slicePoints().count() + 1;
    }
    printJson(json);
    return timedOut ? 1 : 0;
}

int runRecord(Args& args) {
    const auto seconds = takeOption(args, "--seconds");
    const auto device = takeOption(args, "--device");
    const auto rate = takeOption(args, "--rate");
    const auto channels = takeOption(args, "--channels");
    const bool meter = takeFlag(args, "--meter");
    const std::string out = takePositional(args, "OUT.wav");
    refuseLeftovers(args);
    if (!seconds) {
        throw UsageError("--seconds is needed");
    }
    const double duration = parseNumber(*seconds, "--seconds");
    const long long sampleRate = rate ? parseInteger(*rate, "--rate") : 44100;
    const long long channelCount = channels ? parseInteger(*channels, "--channels") : 2;
    checkRecordFormat(sampleRate, channelCount);
    const uint64_t wanted = recordBytesFor(duration, sampleRate, channelCount, "--seconds");

    CliEnv env(defaultSettings());
    auto& loop = env.loop;
    audio::twabeAudio& recorder = env.session.player();
    // The take goes into a working file of its own, not into memory and not into the (empty)
    // sample store.
    std::unique_ptr<sample::TFileAndMemoryStream> take;
    try {
        take = sample::createWorkFile(env.session.workingDirectory(), sample::kStorePrefix);
    } catch (const sample::StreamError& error) {
        std::cerr << "cleavix-cli: " << error.what() << "\n";
        return 1;
    }
    auto& store = *take;
    recorder.setStore(&store);
    recorder.setInputDeviceID(resolveDevice(env.session.devices(), device));
    recorder.RecordChannels = static_cast<uint8_t>(channelCount);
    recorder.RecordRate = static_cast<uint32_t>(sampleRate);
    recorder.RecordRingSize = 4;
    audio::TMeterData levels;
    if (meter) {
        levels.SetActive(true);
        recorder.Meter = &levels;
    }
    if (recorder.OpenInput() != 0 || !recorder.StartRecord()) {
        recorder.Meter = nullptr;
        return 1;
    }
    const auto deadline = Clock::now() + std::chrono::duration<double>(duration * 2 + 5);
    auto nextMeter = Clock::now() + std::chrono::milliseconds(100);
    bool timedOut = false;
    {
        Ticker ticker(loop);
        loop.runUntil([&] {
            timedOut = Clock::now() > deadline;
            if (meter && Clock::now() >= nextMeter) {
                nextMeter += std::chrono::milliseconds(100);
                int32_t left = 0;
                int32_t right = 0;
                levels.ReadLevel(levels.Control(0), left, right);
                const nlohmann::json line = {{"left", std::abs(left)},
                                             {"right", std::abs(right)},
                                             {"recordedBytes", recorder.recorder().RecordedBytes}};
                std::cerr << line.dump() << std::endl;
            }
            return recorder.recorder().RecordedBytes >= wanted || !recorder.recorder().Recording || timedOut;
        });
    }
    recorder.StopRecord();
    recorder.CloseInput();
    recorder.Meter = nullptr;
    loop.runPending();
    const uint64_t kept = std::min<uint64_t>(wanted, static_cast<uint64_t>(store.size()));
    sample::WriteRequest request;
    request.fileName = out;
    request.start = 0;
    request.length = static_cast<uint32_t>(kept);
    request.layout = channelCount == 2 ? sample::LayoutStereo : sample::LayoutMono;
    request.sampleChannels = static_cast<uint16_t>(channelCount);
    request.saveBits = 16;
    request.sampleRate = static_cast<uint32_t>(sampleRate);
    const sample::WriteResult written = sample::WriteSplit(request, store, nullptr);
    recorder.setStore(&env.session.store().stream());
    sample::ReleaseWorkFile(take);
    if (!written.ok) {
        std::cerr << "cleavix-cli: " << written.error << "\n";
        return 1;
    }
    printJson({{"file", out},
               {"device", recorder.InputProductName()},
               {"sampleRate", sampleRate},
               {"channels", channelCount},
               {"recordedBytes", recorder.lastRecordedBytes()},
               {"dataLength", kept},
               {"timedOut", timedOut}});
    return timedOut && kept < wanted ? 1 : 0;
}

const CommandRegistration devicesCommand{
    {"devices", "devices",
     "Lists the output and input devices as JSON: {\"outputs\": [...], \"inputs\": [...]}, each with its\n"
     "number (\"id\"; -1 is the default device: ALSA's, or the virtual one in a build without ALSA),\n"
     "its backend name (an ALSA PCM name) and its product name.",
     runDevices}};

const CommandRegistration playCommand{
    {"play", "play FILE [--loop L R --times N] [--tempo BPM --bars B --beats C [--sensitivity PCT] [--unlinked]] "
             "[--device NAME] [--buffer-size S] [--buffer-count N]",
     "Loads FILE and plays it through the device (a number from 'devices', a listed name, or any ALSA\n"
     "PCM name such as null or file:'/tmp/out.raw',raw; default: the default device). With --loop,\n"
     "plays the bytes L to R (rounded down to frames) N times back to back, then stops. Prints\n"
     "{file, device, start, length, loop, passes, bytesPlayed, audioSeconds, wallSeconds, cpuSeconds,\n"
     "firstBytesMs, timedOut}: firstBytesMs is the time from the play call to the first bytes handed\n"
     "to the device; timedOut (exit status 1) when playback had not ended 10 s after the audio's length.\n"
     "With --tempo, searches FILE for slice points (taken at PCT per cent, default 50) and plays the\n"
     "region (--loop, else the whole sample; B bars and C beats of 4/4 give its own tempo) at BPM:\n"
     "each slice re-triggered at its time scaled by own tempo / BPM, as 'render' writes it, rendered\n"
     "as it plays and looped without a gap. At the loop's own tempo it plays the region itself.\n"
     "Adds {tempo, fromTempo, rendered, slices}; length is then the rendering's.",
     runPlay}};

const CommandRegistration recordCommand{
    {"record", "record OUT.wav --seconds S [--device NAME] [--rate R] [--channels C] [--meter]",
     "Records S seconds of 16-bit audio from the input device (default: the default device; rate\n"
     "44100, 4000 to 192000; 1 or 2 channels, default 2) and writes it to OUT.wav (or AIFF by its\n"
     "name). Prints {file, device, sampleRate, channels, recordedBytes, dataLength, timedOut}. With\n"
     "--meter, writes one JSON line {left, right, recordedBytes} every 100 ms on standard error: the\n"
     "peak of each channel (0 to 32768) over the last 100 ms of input.",
     runRecord}};

} // namespace

} // namespace cleavix::cli
