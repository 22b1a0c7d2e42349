// Writes the seed inputs of every fuzz target, one folder each under the folder named, from the
// builders the tests use: Wave and AIFF files of every form the loader reads, point files, clipboard
// images, scripts, MIDI streams, sampler answers and profile records.
#include "FuzzTarget.h"
#include "editing/ClipboardImage.h"
#include "sampler/akai/AkaiCodec.h"
#include "sampler/profiles/ProfileRecord.h"
#include "sampler/sds/SdsCodec.h"
#include "sampler/smdi/SmdiCodec.h"
#include "slicing/PointFile.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

using cleavix::test::Bytes;
namespace fs = std::filesystem;
namespace test = cleavix::test;

class Seeds {
public:
    Seeds(const fs::path& root, const std::string& target) : dir_(root / target) { fs::create_directories(dir_); }
    void add(const Bytes& bytes) {
        std::ofstream out(dir_ / ("seed-" + std::to_string(++count_)), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void add(const std::string& text) { add(Bytes(text.begin(), text.end())); }

private:
    fs::path dir_;
    int count_ = 0;
};

void sampleFiles(const fs::path& root) {
    Seeds s(root, "sample_file");
    const Bytes pcm = test::le16Bytes(test::testSignal(64));
    s.add(test::makeWave({}, pcm));
    s.add(test::makeWave({.channels = 1}, pcm));
    s.add(test::makeWave({.channels = 1, .bits = 8}, Bytes(pcm.begin(), pcm.begin() + 33)));
    s.add(test::makeWave({.dataFirst = true, .extraChunk = true}, pcm));
    s.add(test::makeWave({.declaredLength = 1000}, pcm));
    s.add(test::makeWave({.sampleRate = 4294967295u}, pcm));
    s.add(test::makeWave({.formatTag = 3}, pcm));
    const Bytes be = test::be16Bytes(test::testSignal(64));
    s.add(test::makeAiff({}, be));
    s.add(test::makeAiff({.channels = 1, .sampleRate = 22050, .oddChunkFirst = true}, be));
    s.add(test::makeAiff({.bits = 8}, Bytes(be.begin(), be.begin() + 31)));
    s.add(test::makeAiff({.ssndOffset = 8}, be));
    s.add(test::makeAiff({.aifc = true}, be));
    s.add(test::makeAiff({.aifc = true, .compression = "sowt"}, pcm));
    s.add(test::makeAiff({.aifc = true, .compression = "ima4"}, be));
}

void pointFiles(const fs::path& root) {
    Seeds s(root, "point_file");
    const fs::path scratch = root / "points.clx";
    for (int points : {0, 3, 40}) {
        cleavix::slicing::CandidateList list;
        for (int k = 1; k <= points; ++k) {
            list.append({uint32_t(k * 1000), 100 * k, 1, uint8_t(k % 2), uint8_t(k % 3 == 0 ? 1 : 0), 0});
        }
        list.setMarkers(uint32_t(points * 1000 + 500));
        cleavix::slicing::savePointFile(list, scratch.string());
        for (uint32_t length : {uint32_t(points * 1000 + 500), 2500u}) {
            Bytes bytes;
            test::putLe32(bytes, length); // the length of the sample the target loads it for
            const Bytes image = test::readFile(scratch.string());
            bytes.insert(bytes.end(), image.begin(), image.end());
            s.add(bytes);
        }
    }
    fs::remove(scratch);
}

void clipboardImages(const fs::path& root) {
    Seeds s(root, "clipboard_image");
    for (uint16_t channels : {1, 2}) {
        Bytes image = cleavix::editing::imageHeader(channels, 44100, 40);
        const Bytes pcm = test::le16Bytes(test::testSignal(20));
        image.insert(image.end(), pcm.begin(), pcm.end());
        s.add(image);
        s.add(Bytes(image.begin(), image.begin() + 49)); // cut short, mid-frame
    }
    s.add(test::makeWave({.bits = 8}, Bytes(10, 0x80)));
}

void scripts(const fs::path& root) {
    Seeds s(root, "run_script");
    s.add("open a.wav\n# a comment\nselect 400 4002\ncut\ndump-state\nundo\ndump-store b.raw\n");
    s.add("open a.wav\nload-clipboard c.wav\ncursor 100\npaste-keep both\npaste-find-new mix\nundo\nundo\n");
    s.add("open a.wav\nchannel left\nunlink\nselect 0 800\nreverse\ninvert\nnormalise 90 --no-dc\nquantise 8\n"
          "silence\nundo\n");
    s.add("open a.wav\ngrid 16\nstrip-silence 100 50 2\ndump-points\nexport --out cut.wav --bits 8\n");
    s.add("open a.wav\nscan\nsensitivity 40\nbars 1\nbeats 4\nadd-point 2000 upper\nmove-point 1 3000\n"
          "lock 1\nrandomise keep\nsave out.aif --bits 16\n");
    s.add("open a.wav\nconvert mono-mix\nrate 22050\nconvert stereo\nloop 0 4000\ncopy-segment 10\n"
          "paste-segment 10 left\ncrop\nanswer no\nclose\n");
    s.add("load-clipboard c.wav\npaste-new\nundo-buffer off\nselect-all\ncopy\ndump-clipboard d.wav\n");
}

void midiStreams(const fs::path& root) {
    namespace sds = cleavix::sampler::sds;
    Seeds s(root, "midi_stream");
    s.add(Bytes{0x90, 60, 100, 62, 90, 0x80, 60, 0, 0xFE, 0xB0, 7, 127});
    const auto header = sds::encodeHeader({.periodNs = sds::periodForRate(44100), .lengthWords = 1000});
    Bytes stream(header.begin(), header.end());
    const auto samples = test::testSignal(sds::kWordsPerPacket);
    const auto packet = sds::encodePacket(0, 0, samples.data(), samples.size());
    stream.insert(stream.end(), packet.begin(), packet.end());
    stream.insert(stream.begin() + 10, 0xF8); // a clock in the middle of a dump
    s.add(stream);
    s.add(Bytes{0xF0, 0x7E, 0x00, 0x7F, 0x00, 0x90, 60, 0xF7, 0xF7});
}

void samplerAnswers(const fs::path& root) {
    namespace sds = cleavix::sampler::sds;
    namespace smdi = cleavix::sampler::smdi;
    namespace akai = cleavix::sampler::akai;
    Seeds s(root, "sampler_answers");
    const auto header = sds::encodeHeader({.sampleNumber = 5, .periodNs = sds::periodForRate(22050),
                                           .lengthWords = 3000, .loopStart = 10, .loopEnd = 2000,
                                           .loopType = sds::kLoopForward});
    s.add(Bytes(header.begin(), header.end()));
    const auto samples = test::testSignal(sds::kWordsPerPacket);
    const auto packet = sds::encodePacket(0, 3, samples.data(), samples.size());
    s.add(Bytes(packet.begin(), packet.end()));
    const auto ack = sds::encodeHandshake(sds::kSubAck, 0, 3);
    s.add(Bytes(ack.begin(), ack.end()));
    s.add(smdi::ack());
    s.add(smdi::sendNextPacket(7));
    const Bytes data = test::le16Bytes(test::testSignal(32));
    s.add(smdi::dataPacket(2, data));
    s.add(smdi::beginSampleTransfer(4, 4096));
    smdi::SampleHeader smdiHeader;
    smdiHeader.number = 4;
    smdiHeader.periodNs = smdi::periodOfRate(44100);
    smdiHeader.lengthWords = 5000;
    s.add(smdi::sampleHeader(smdiHeader));
    const auto block = akai::sampleHeaderBlock("KICK", *akai::rateByte(44100), 60, 8000);
    const auto message = akai::sampleHeaderMessage(1, block);
    Bytes both = message.first;
    both.insert(both.end(), message.second.begin(), message.second.end());
    s.add(both);
    s.add(akai::frame(akai::function::kFreeMemory, akai::sevenBitGroups(100000, 3)));
    s.add(akai::frame(akai::function::kSampleCount, akai::sevenBitGroups(12, 2)));
    s.add(Bytes{0xF0, 0x7E, 0x00, akai::handshake::kAck, 0x00, 0xF7});
    s.add(Bytes{0x00, 0x10, 0x00, 0x00, 0x00, 0x00});
}

void profileRecords(const fs::path& root) {
    namespace profiles = cleavix::sampler::profiles;
    Seeds s(root, "profile_record");
    cleavix::sampler::SamplerProfile profile;
    auto bytes = profiles::encodeProfile(profile);
    s.add(Bytes(bytes.begin(), bytes.end()));
    profile.deviceType = 3;
    profile.midiChannel = 16;
    profile.scsiInUse = 1;
    profile.scsiDevice = 6;
    profile.sampleNumberOffset = -1024;
    bytes = profiles::encodeProfile(profile);
    s.add(Bytes(bytes.begin(), bytes.end()));
    s.add(Bytes(bytes.begin(), bytes.begin() + 15));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds FOLDER\n";
        return 64;
    }
    const fs::path root(argv[1]);
    fs::create_directories(root);
    sampleFiles(root);
    pointFiles(root);
    clipboardImages(root);
    scripts(root);
    midiStreams(root);
    samplerAnswers(root);
    profileRecords(root);
    std::cout << "seeds written to " << root.string() << "\n";
    return 0;
}
