// Reading Wave and AIFF files: the check's result codes, the header details that trip parsers,
// and the conversion of the sound data into the store's 16-bit little-endian layout.
#include "sample/PeakTable.h"
#include "sample/SampleLoader.h"
#include "sample/WavParser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace cleavix::sample;
using namespace cleavix::test;

namespace {

struct Loaded {
    SampleFormat format;
    std::vector<int16_t> samples;
    int64_t storeSize = 0;
    Bytes guard;
};

Loaded loadFile(const std::string& path) {
    TFileAndMemoryStream store;
    Loaded out;
    EXPECT_EQ(loadSampleData(path, store, out.format, nullptr), LoadOutcome::Loaded);
    out.storeSize = store.size();
    Bytes bytes(out.format.dataLength);
    store.readAt(0, bytes.data(), bytes.size());
    out.samples = le16Samples(bytes);
    out.guard.resize(static_cast<size_t>(out.storeSize - out.format.dataLength));
    store.readAt(out.format.dataLength, out.guard.data(), out.guard.size());
    return out;
}

} // namespace

TEST(WaveReading, ContainerIsDecidedByContentNotName) {
    TempDir dir;
    const auto samples = testSignal(200);
    const Bytes wave = makeWave({}, le16Bytes(samples));
    const Bytes aiff = makeAiff({}, be16Bytes(samples));
    // a.wav.wav is a Wave file; loop.aiff named .wav and a Wave named .aif still read right.
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"a.wav.wav", wave}, {"loop.WAV", wave}, {"wave.aif", wave}, {"noext", wave},
             {"loop.aiff", aiff}, {"aiff.wav", aiff}, {"take.wav.aif", aiff}, {"loop.rex", aiff}}) {
        writeFile(dir.file(name), bytes);
        const SampleFileCheck check = CheckSampleFile(dir.file(name));
        EXPECT_EQ(check.result, CheckLoadable) << name;
        const Loaded loaded = loadFile(dir.file(name));
        EXPECT_EQ(loaded.samples, samples) << name;
    }
}

TEST(WaveReading, ChunkOrderPaddingAndRates) {
    TempDir dir;
    const auto samples = testSignal(64);
    WaveSpec dataFirst;
    dataFirst.dataFirst = true;
    dataFirst.extraChunk = true;
    writeFile(dir.file("a.wav"), makeWave(dataFirst, le16Bytes(samples)));
    EXPECT_EQ(loadFile(dir.file("a.wav")).samples, samples);

    AiffSpec odd;
    odd.oddChunkFirst = true;
    odd.sampleRate = 22254.5454L;
    writeFile(dir.file("b.aif"), makeAiff(odd, be16Bytes(samples)));
    const Loaded b = loadFile(dir.file("b.aif"));
    EXPECT_EQ(b.samples, samples);
    EXPECT_EQ(b.format.sampleRate, 22255u);
    EXPECT_EQ(b.format.bytesPerSecond, 22255u * 4);
}

TEST(WaveReading, AiffSoundDataSkipsOffsetAndBlockSize) {
    TempDir dir;
    const auto samples = testSignal(300);
    AiffSpec spec;
    spec.ssndOffset = 484;
    writeFile(dir.file("pad.aif"), makeAiff(spec, be16Bytes(samples)));
    const SampleFileCheck check = CheckSampleFile(dir.file("pad.aif"));
    EXPECT_EQ(check.info.dataLength, 600u);
    const Loaded loaded = loadFile(dir.file("pad.aif"));
    EXPECT_EQ(loaded.samples, samples);
    EXPECT_EQ(loaded.format.sampleRate, 44100u);
}

TEST(WaveReading, EightBitWaveWidensAsOffsetBytes) {
    TempDir dir;
    WaveSpec spec;
    spec.bits = 8;
    spec.channels = 1;
    writeFile(dir.file("eight.wav"), makeWave(spec, {0, 128, 255, 1, 127, 129, 64}));
    const Loaded loaded = loadFile(dir.file("eight.wav"));
    EXPECT_EQ(loaded.format.dataLength, 14u);
    EXPECT_EQ(loaded.format.bitsPerSample, 16u);
    EXPECT_EQ(loaded.format.sourceBits, 8u);
    EXPECT_EQ(loaded.format.saveBits, 8u);
    // round((b - 128) / 128 * 32767), ties to even: 64 gives -16383.5 -> -16384.
    EXPECT_EQ(loaded.samples, (std::vector<int16_t>{-32767, 0, 32511, -32511, -256, 256, -16384}));
}

TEST(WaveReading, EightBitAiffIsSigned) {
    TempDir dir;
    AiffSpec spec;
    spec.bits = 8;
    spec.channels = 1;
    writeFile(dir.file("eight.aif"), makeAiff(spec, {0x80, 0x00, 0x7F, 0xFF}));
    const Loaded loaded = loadFile(dir.file("eight.aif"));
    EXPECT_EQ(loaded.samples, (std::vector<int16_t>{-32767, 0, 32511, -256}));
}

TEST(WaveReading, UncompressedAiffCBigAndLittleEndianLoad) {
    TempDir dir;
    const auto samples = testSignal(64);
    AiffSpec none;
    none.aifc = true;
    none.compression = "NONE";
    writeFile(dir.file("none.aifc"), makeAiff(none, be16Bytes(samples)));
    EXPECT_EQ(CheckSampleFile(dir.file("none.aifc")).result, CheckLoadable);
    EXPECT_EQ(loadFile(dir.file("none.aifc")).samples, samples);
    AiffSpec sowt = none;
    sowt.compression = "sowt";
    writeFile(dir.file("sowt.aifc"), makeAiff(sowt, le16Bytes(samples)));
    EXPECT_EQ(CheckSampleFile(dir.file("sowt.aifc")).result, CheckLoadable);
    EXPECT_EQ(loadFile(dir.file("sowt.aifc")).samples, samples);
}

TEST(WaveReading, StoreHasEightyZeroGuardBytes) {
    TempDir dir;
    writeFile(dir.file("g.wav"), makeWave({}, le16Bytes(testSignal(40))));
    const Loaded loaded = loadFile(dir.file("g.wav"));
    EXPECT_EQ(loaded.storeSize, int64_t(loaded.format.dataLength) + 80);
    EXPECT_EQ(loaded.guard, Bytes(80, 0));
}

TEST(WaveReading, FormatsThatAreNotEightOrSixteenBitPcm) {
    TempDir dir;
    WaveSpec s24;
    s24.bits = 24;
    writeFile(dir.file("24.wav"), makeWave(s24, Bytes(60, 1)));
    EXPECT_EQ(CheckSampleFile(dir.file("24.wav")).result, CheckUnsupported);
    EXPECT_EQ(CheckSampleFile(dir.file("24.wav"), true).result, CheckLoadable); // the preview takes it

    WaveSpec adpcm;
    adpcm.formatTag = 2;
    writeFile(dir.file("adpcm.wav"), makeWave(adpcm, Bytes(64, 1)));
    EXPECT_EQ(CheckSampleFile(dir.file("adpcm.wav")).result, CheckUnsupported);

    WaveSpec many;
    many.channels = 4;
    writeFile(dir.file("quad.wav"), makeWave(many, Bytes(64, 1)));
    EXPECT_EQ(CheckSampleFile(dir.file("quad.wav")).result, CheckUnsupported);

    AiffSpec aifc;
    aifc.aifc = true;
    for (const char* compression : {"ima4", "fl32", "ulaw", "twos"}) {
        aifc.compression = compression;
        writeFile(dir.file("c.aifc"), makeAiff(aifc, Bytes(64, 1)));
        EXPECT_EQ(CheckSampleFile(dir.file("c.aifc")).result, CheckUnsupported) << compression;
    }

    WaveSpec zeroRate;
    zeroRate.sampleRate = 0;
    writeFile(dir.file("zero.wav"), makeWave(zeroRate, Bytes(64, 1)));
    EXPECT_EQ(CheckSampleFile(dir.file("zero.wav")).result, CheckUnsupported);

    EXPECT_EQ(CheckSampleFile(dir.file("missing.wav")).result, CheckUnsupported);
    EXPECT_EQ(CheckSampleFile(dir.path()).result, CheckUnparseable);
}

TEST(WaveReading, ExtensibleWaveWithPcmSubformatLoads) {
    TempDir dir;
    const auto samples = testSignal(32);
    Bytes file;
    putId(file, "RIFF");
    putLe32(file, 4 + 8 + 40 + 8 + 64);
    putId(file, "WAVE");
    putId(file, "fmt ");
    putLe32(file, 40);
    putLe16(file, 0xFFFE);
    putLe16(file, 2);
    putLe32(file, 48000);
    putLe32(file, 48000 * 4);
    putLe16(file, 4);
    putLe16(file, 16);
    putLe16(file, 22);
    putLe16(file, 16);
    putLe32(file, 3);
    const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    file.insert(file.end(), pcmGuid, pcmGuid + 16);
    putId(file, "data");
    putLe32(file, 64);
    const Bytes data = le16Bytes(samples);
    file.insert(file.end(), data.begin(), data.end());
    writeFile(dir.file("ext.wav"), file);
    EXPECT_EQ(CheckSampleFile(dir.file("ext.wav")).result, CheckLoadable);
    EXPECT_EQ(loadFile(dir.file("ext.wav")).samples, samples);
    file[44] = 3; // subformat IEEE float (the GUID starts 24 bytes into the format body)
    writeFile(dir.file("float.wav"), file);
    EXPECT_EQ(CheckSampleFile(dir.file("float.wav")).result, CheckUnsupported);
}

TEST(WaveReading, DataChunkClaimingMoreThanTheFileLoadsWhatIsThere) {
    TempDir dir;
    const auto samples = testSignal(101 * 2);
    WaveSpec spec;
    spec.declaredLength = 1000000;
    Bytes bytes = makeWave(spec, le16Bytes(samples));
    bytes.push_back(0x55); // half a sample more: not a whole frame, so not loaded
    writeFile(dir.file("long.wav"), bytes);
    const SampleFileCheck check = CheckSampleFile(dir.file("long.wav"));
    EXPECT_EQ(check.result, CheckLoadable);
    EXPECT_EQ(check.info.declaredLength, 1000000u);
    EXPECT_EQ(check.info.dataLength, samples.size() * 2);
    EXPECT_EQ(loadFile(dir.file("long.wav")).samples, samples);
}

TEST(WaveReading, EveryTruncationIsRefusedOrLoadsAShorterSample) {
    TempDir dir;
    const auto samples = testSignal(40);
    for (const Bytes& whole : {makeWave({}, le16Bytes(samples)), makeAiff({}, be16Bytes(samples))}) {
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const std::string path = dir.file("cut");
            writeFile(path, Bytes(whole.begin(), whole.begin() + long(cut)));
            const SampleFileCheck check = CheckSampleFile(path);
            if (check.result == CheckLoadable) {
                const Loaded loaded = loadFile(path);
                EXPECT_LT(loaded.format.dataLength, samples.size() * 2);
                EXPECT_EQ(loaded.format.dataLength % 4, 0u);
                EXPECT_TRUE(std::equal(loaded.samples.begin(), loaded.samples.end(), samples.begin()));
            } else {
                EXPECT_EQ(check.result, CheckUnparseable) << "cut at " << cut;
            }
        }
    }
}

TEST(WaveReading, CorruptedHeadersNeverCrash) {
    TempDir dir;
    const auto samples = testSignal(40);
    std::mt19937 random(42);
    for (const Bytes& whole : {makeWave({}, le16Bytes(samples)), makeAiff({}, be16Bytes(samples))}) {
        for (int round = 0; round < 400; ++round) {
            Bytes bytes = whole;
            // Flip bytes inside the headers (the first 60 bytes), sizes included.
            for (int k = 0; k < 3; ++k) {
                bytes[random() % 60] ^= uint8_t(1u << (random() % 8));
            }
            const std::string path = dir.file("bad");
            writeFile(path, bytes);
            const SampleFileCheck check = CheckSampleFile(path);
            ASSERT_TRUE(check.result >= 0 && check.result <= 2);
            if (check.result == CheckLoadable) {
                const Loaded loaded = loadFile(path);
                EXPECT_LE(loaded.format.dataLength, bytes.size() * 2);
            }
        }
    }
    writeFile(dir.file("empty.wav"), {});
    EXPECT_EQ(CheckSampleFile(dir.file("empty.wav")).result, CheckUnparseable);
    Bytes noise(5000);
    for (auto& b : noise) {
        b = uint8_t(random());
    }
    writeFile(dir.file("noise.wav"), noise);
    EXPECT_EQ(CheckSampleFile(dir.file("noise.wav")).result, CheckUnparseable);
}

TEST(WaveReading, AudioBeyondThirtyTwoBitPositionsIsRefused) {
    // A sparse 8-bit file of 3 GB would widen to 6 GB: more than positions can address.
    TempDir dir;
    WaveSpec spec;
    spec.bits = 8;
    spec.channels = 1;
    spec.declaredLength = 3000000000ll;
    Bytes header = makeWave(spec, {});
    const std::string path = dir.file("huge.wav");
    writeFile(path, header);
    ASSERT_EQ(::truncate(path.c_str(), off_t(header.size()) + 3000000000ll), 0);
    const SampleFileCheck check = CheckSampleFile(path);
    EXPECT_EQ(check.result, CheckUnsupported);
    EXPECT_EQ(check.refusal, kMsgTooLarge);
    TFileAndMemoryStream store;
    SampleFormat format;
    EXPECT_THROW(loadSampleData(path, store, format, nullptr), EWavParserError);
    EXPECT_EQ(store.size(), 0);
}

TEST(WaveReading, AbortStopsTheCopy) {
    TempDir dir;
    writeFile(dir.file("a.wav"), makeWave({}, le16Bytes(testSignal(200000))));
    TFileAndMemoryStream store;
    SampleFormat format;
    int blocks = 0;
    BlockProgress progress;
    progress.stop = [&] { return ++blocks == 2; };
    EXPECT_EQ(loadSampleData(dir.file("a.wav"), store, format, nullptr, progress), LoadOutcome::Aborted);
    EXPECT_EQ(format.dataLength, 0u);
    EXPECT_EQ(store.size(), 2 * 65536);
}

namespace {

// Keeps what a load shows its observer.
class Recorder final : public LoadObserver {
public:
    void begin(const SampleFormat& format) override {
        ++begun;
        announced = format;
    }
    void addSamples(const int16_t* samples, size_t count) override {
        seen.insert(seen.end(), samples, samples + count);
        if (failAfter >= 0 && seen.size() > size_t(failAfter)) {
            throw StreamError("observer failed");
        }
    }
    int begun = 0;
    SampleFormat announced;
    std::vector<int16_t> seen;
    int64_t failAfter = -1;
};

} // namespace

TEST(WaveReading, AnObserverSeesTheStoresSamplesAndThePeaksMatchARebuild) {
    TempDir dir;
    const auto signal = testSignal(2 * 300001, 5); // many 64 KiB blocks and a short last one
    WaveSpec stereo;
    writeFile(dir.file("s.wav"), makeWave(stereo, le16Bytes(signal)));
    AiffSpec aiff;
    writeFile(dir.file("s.aif"), makeAiff(aiff, be16Bytes(signal)));
    Bytes bytes(100001);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = uint8_t(signal[i]);
    }
    WaveSpec eight;
    eight.bits = 8;
    eight.channels = 1;
    writeFile(dir.file("e.wav"), makeWave(eight, bytes));
    for (const char* name : {"s.wav", "s.aif", "e.wav"}) {
        TFileAndMemoryStream store;
        SampleFormat format;
        PeakTable peaks(std::make_unique<TFileAndMemoryStream>(), 128);
        Recorder recorder;
        ASSERT_EQ(loadSampleData(dir.file(name), store, format, &peaks, {}, &recorder), LoadOutcome::Loaded);
        EXPECT_EQ(recorder.begun, 1);
        EXPECT_EQ(recorder.announced.dataLength, format.dataLength) << name;
        EXPECT_EQ(recorder.announced.channels, format.channels) << name;
        Bytes stored(format.dataLength);
        store.readAt(0, stored.data(), stored.size());
        EXPECT_EQ(recorder.seen, le16Samples(stored)) << name;
        PeakTable rebuilt(std::make_unique<TFileAndMemoryStream>(), 128);
        rebuildPeaks(store, format, rebuilt);
        ASSERT_EQ(peaks.entries(), rebuilt.entries()) << name;
        std::vector<int32_t> a(peaks.entries() * format.channels);
        std::vector<int32_t> b(a.size());
        peaks.readWords(0, a.data(), a.size());
        rebuilt.readWords(0, b.data(), b.size());
        EXPECT_EQ(a, b) << name;
        EXPECT_TRUE(peaks.describes(store, format)) << name;
    }
}

TEST(WaveReading, AnObserversFailureFailsTheLoad) {
    TempDir dir;
    writeFile(dir.file("a.wav"), makeWave({}, le16Bytes(testSignal(400000))));
    for (int64_t failAfter : {int64_t(0), int64_t(200000), int64_t(399999)}) {
        TFileAndMemoryStream store;
        SampleFormat format;
        Recorder recorder;
        recorder.failAfter = failAfter;
        EXPECT_THROW(loadSampleData(dir.file("a.wav"), store, format, nullptr, {}, &recorder), StreamError);
        EXPECT_EQ(format.dataLength, 0u);
    }
}

TEST(WaveReading, PreviewLines) {
    SampleFileInfo info;
    info.format.sampleRate = 44100;
    info.format.bitsPerSample = 16;
    info.format.channels = 2;
    info.dataLength = 705600;
    EXPECT_EQ(previewFormatLine(info), "44100hz / 16 bit / stereo");
    EXPECT_EQ(previewSizeLine(info), "689 kb");
}
