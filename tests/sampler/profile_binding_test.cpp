// Binding a profile: the checks and their messages, the driver table, and what the chosen driver
// is handed.
#include "sampler/profiles/ProfileBinding.h"

#include <gtest/gtest.h>

namespace cleavix::sampler::profiles {
namespace {

// Records what binding hands it.
class RecordingDriver final : public TSamplerClass {
public:
    explicit RecordingDriver(std::string name) : name_(std::move(name)) {}
    std::string errorText() const override { return error_; }
    void setProfile(const SamplerProfile& profile) override { profile_ = profile; }
    void setStatusPanel(StatusSink status) override { status_ = std::move(status); }
    void setSampleStore(sample::TFileAndMemoryStream* store) override { store_ = store; }
    void setMidiPorts(midi::TMidiInput* in, midi::TMidiOutput* out) override {
        in_ = in;
        out_ = out;
    }
    void checkDevice(Continuation continuation) override { continuation(); }
    void sendSample(const SendSampleArgs&) override {}
    void receiveSample(int32_t, ReceiveCompletion) override {}

    std::string name_;
    std::string error_;
    std::optional<SamplerProfile> profile_;
    StatusSink status_;
    sample::TFileAndMemoryStream* store_ = nullptr;
    midi::TMidiInput* in_ = nullptr;
    midi::TMidiOutput* out_ = nullptr;
};

ProfileRead readOf(const SamplerProfile& p) {
    const auto bytes = encodeProfile(p);
    return decodeProfile(bytes);
}

SamplerProfile ofType(uint8_t type) {
    SamplerProfile p;
    p.deviceType = type;
    return p;
}

const InstalledDevices kTwoEach{2, 2, 2};

TEST(BindingChecks, NoPresetsComesFirst) {
    const auto check = checkBinding(false, ProfileRead{}, kTwoEach, true);
    EXPECT_EQ(check.verdict, BindingVerdict::NoPresets);
    EXPECT_EQ(check.message, "No presets found - use the preset manager to add a preset.");
}

TEST(BindingChecks, UnreadableRecordIsCorrupt) {
    std::vector<uint8_t> fifteen(15, 1);
    const auto check = checkBinding(true, decodeProfile(fifteen), kTwoEach, true);
    EXPECT_EQ(check.verdict, BindingVerdict::Corrupt);
    EXPECT_EQ(check.message, "Error reading preset - may be corrupted!\r\nCheck settings in preset manager");
    EXPECT_FALSE(check.profile);
}

TEST(BindingChecks, ScsiTypeWithoutTheLayerIsRefused) {
    const auto check = checkBinding(true, readOf(ofType(1)), kTwoEach, false);
    EXPECT_EQ(check.verdict, BindingVerdict::NoScsi);
    EXPECT_EQ(check.message, "Cannot initialise SCSI interface!");
    EXPECT_TRUE(checkBinding(true, readOf(ofType(0)), kTwoEach, false).ok()) << "a MIDI profile needs no SCSI";
}

TEST(BindingChecks, IndexEqualToTheCountIsOutOfRange) {
    SamplerProfile midi = ofType(0);
    midi.midiInput = 2; // two inputs: 0 and 1
    auto check = checkBinding(true, readOf(midi), kTwoEach, true);
    EXPECT_EQ(check.verdict, BindingVerdict::OutOfRange);
    EXPECT_EQ(check.message, "Device ID out of range:\r\nCheck settings - MIDI or SCSI device may have been removed");
    EXPECT_EQ(check.detail, "MIDI input 2 of 2");
    EXPECT_FALSE(check.profile) << "refused, not bound to whichever device the driver had";
    midi.midiInput = 1;
    midi.midiOutput = 2;
    EXPECT_EQ(checkBinding(true, readOf(midi), kTwoEach, true).detail, "MIDI output 2 of 2");
    midi.midiOutput = 1;
    EXPECT_TRUE(checkBinding(true, readOf(midi), kTwoEach, true).ok());
}

TEST(BindingChecks, PlaceholderAdaptorLineIsNoAdaptor) {
    SamplerProfile scsi = ofType(5);
    scsi.scsiAdaptor = 0;
    // Only "No host adaptor found" in the list: no adaptor at all.
    const auto check = checkBinding(true, readOf(scsi), InstalledDevices{2, 2, 0}, true);
    EXPECT_EQ(check.verdict, BindingVerdict::OutOfRange);
    EXPECT_EQ(check.detail, "SCSI adaptor 0 of 0");
    EXPECT_TRUE(checkBinding(true, readOf(scsi), InstalledDevices{0, 0, 1}, true).ok())
        << "a SCSI-only type needs no MIDI device";
}

TEST(BindingChecks, NeedsMidiOutTypesCheckTheOutput) {
    SamplerProfile yamaha = ofType(2);
    yamaha.midiOutput = 0;
    EXPECT_EQ(checkBinding(true, readOf(yamaha), InstalledDevices{0, 0, 1}, true).detail, "MIDI output 0 of 0");
    EXPECT_TRUE(checkBinding(true, readOf(yamaha), InstalledDevices{0, 1, 1}, true).ok());
}

TEST(ManagerLoad, ResetsMidiIndicesOutOfRangeWithItsMessage) {
    SamplerProfile p = ofType(0);
    p.midiInput = 4;
    p.midiOutput = 1;
    const auto load = loadForManager(readOf(p), kTwoEach);
    ASSERT_TRUE(load.profile);
    EXPECT_EQ(load.profile->midiInput, 0);
    EXPECT_EQ(load.profile->midiOutput, 1);
    EXPECT_EQ(load.message,
              "Device ID out of range;\r\nCheck settings in preset manager - midi or SCSI device may have been removed");
    EXPECT_EQ(loadForManager(readOf(ofType(0)), kTwoEach).message, "");
    const auto corrupt = loadForManager(decodeProfile(std::vector<uint8_t>(17, 1)), kTwoEach);
    EXPECT_FALSE(corrupt.profile);
    EXPECT_EQ(corrupt.message, "Error reading preset - may be corrupted!");
}

TEST(DriverTableBinding, EachTypeGoesToItsDriverWithTheResources) {
    RecordingDriver sds("sds"), smdi("smdi"), akai("akai");
    const DriverTable table = makeDriverTable(&sds, &smdi, &akai);
    EXPECT_EQ(table[0], &sds);
    EXPECT_EQ(table[5], &akai);
    for (int i : {1, 2, 3, 4, 6, 7}) {
        EXPECT_EQ(table[size_t(i)], &smdi);
    }
    std::string shown;
    BindResources resources;
    resources.status = [&](const std::string& text) { shown = text; };
    auto* store = reinterpret_cast<sample::TFileAndMemoryStream*>(0x1000);
    resources.store = store;
    SamplerProfile p = ofType(5);
    p.scsiDevice = 4;
    TSamplerClass* bound = bindProfile(p, table, resources);
    EXPECT_EQ(bound, &akai);
    ASSERT_TRUE(akai.profile_);
    EXPECT_EQ(akai.profile_->scsiDevice, 4);
    EXPECT_EQ(akai.store_, store);
    ASSERT_TRUE(akai.status_);
    akai.status_("Sending: 50%");
    EXPECT_EQ(shown, "Sending: 50%");
    EXPECT_FALSE(smdi.profile_);
    EXPECT_FALSE(sds.profile_);
}

TEST(DriverTableBinding, TypeBeyondTheTableOrMissingDriverBindsNothing) {
    RecordingDriver smdi("smdi");
    const DriverTable table = makeDriverTable(nullptr, &smdi, nullptr);
    EXPECT_EQ(bindProfile(ofType(8), table, {}), nullptr);
    EXPECT_EQ(bindProfile(ofType(255), table, {}), nullptr);
    EXPECT_EQ(bindProfile(ofType(0), table, {}), nullptr);
    EXPECT_EQ(bindProfile(ofType(1), table, {}), &smdi);
}

TEST(TransferError, EmptyDriverTextIsNeverShownAsAnEmptyBox) {
    RecordingDriver driver("sds");
    EXPECT_EQ(transferErrorText(driver), "An error occurred during communication with the sampler");
    driver.error_ = "Operation aborted!";
    EXPECT_EQ(transferErrorText(driver), "Operation aborted!");
}

} // namespace
} // namespace cleavix::sampler::profiles
