// Listing the devices of an adaptor: one INQUIRY per target, each from the completion before, a
// dead target timing out without holding up the rest.
#include "ScsiTestKit.h"

#include "sampler/scsi/ScsiListing.h"

#include <gtest/gtest.h>

namespace cleavix::sampler::scsi {
namespace {

using namespace std::chrono_literals;

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_shared<VirtualScsiBus>();
        bus->attach(1, std::make_shared<testkit::EchoTarget>());
        bus->attach(3, std::make_shared<VirtualDiskTarget>());
        layer = std::make_unique<ScsiLayer>(loop);
        layer->addBackend(bus);
    }
    std::vector<std::string> lines(const std::vector<DeviceEntry>& entries) {
        std::vector<std::string> out;
        for (const auto& entry : entries) {
            out.push_back(entry.line);
        }
        return out;
    }
    jobs::MainLoop loop;
    std::shared_ptr<VirtualScsiBus> bus;
    std::unique_ptr<ScsiLayer> layer;
};

TEST_F(ListingTest, ListsTargetsZeroToSixInOrder) {
    DeviceListing listing(*layer);
    std::vector<uint8_t> seen;
    std::optional<std::vector<DeviceEntry>> result;
    ASSERT_TRUE(listing.start(0, [&](const DeviceEntry& e) { seen.push_back(e.target); },
                              [&](const std::vector<DeviceEntry>& all) { result = all; }));
    EXPECT_TRUE(listing.running());
    EXPECT_FALSE(listing.start(0, nullptr, nullptr)) << "never while one runs";
    ASSERT_TRUE(testkit::runUntil(loop, [&] { return result.has_value(); }));
    EXPECT_FALSE(listing.running());
    EXPECT_EQ(seen, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(lines(*result), (std::vector<std::string>{"ID:0 No Device Found", "ID:1 CLEAVIX ECHO SAMPLER 0.9 (*)",
                                                       "ID:2 No Device Found", "ID:3 CLEAVIX VIRTUAL DISK 1.0",
                                                       "ID:4 No Device Found", "ID:5 No Device Found",
                                                       "ID:6 No Device Found"}));
    EXPECT_EQ(listing.lastListed(), 0);
    EXPECT_EQ(bus->commandsSeen(7), 0u) << "ID 7 is the adaptor itself";
}

TEST_F(ListingTest, DeadTargetTimesOutAndTheListingGoesOn) {
    bus->injectFault(1, VirtualScsiFault::neverCompletes());
    bus->injectFault(3, VirtualScsiFault::busy());
    DeviceListing listing(*layer, 100ms);
    std::optional<std::vector<DeviceEntry>> result;
    listing.start(0, nullptr, [&](const std::vector<DeviceEntry>& all) { result = all; });
    ASSERT_TRUE(testkit::runUntil(loop, [&] { return result.has_value(); }));
    ASSERT_EQ(result->size(), 7u);
    EXPECT_TRUE((*result)[1].completion.timedOut);
    EXPECT_EQ((*result)[1].line, "ID:1 No Device Found");
    EXPECT_EQ((*result)[3].line, "ID:3 No Device Found");
    // A later listing finds both again.
    result.reset();
    listing.start(0, nullptr, [&](const std::vector<DeviceEntry>& all) { result = all; });
    ASSERT_TRUE(testkit::runUntil(loop, [&] { return result.has_value(); }));
    EXPECT_EQ((*result)[1].line, "ID:1 CLEAVIX ECHO SAMPLER 0.9 (*)");
}

TEST_F(ListingTest, ShortInquiryAnswerIsReadOnlyAsFarAsItCame) {
    bus->injectFault(1, VirtualScsiFault::shortTransfer(16));
    DeviceListing listing(*layer);
    std::optional<std::vector<DeviceEntry>> result;
    listing.start(0, nullptr, [&](const std::vector<DeviceEntry>& all) { result = all; });
    ASSERT_TRUE(testkit::runUntil(loop, [&] { return result.has_value(); }));
    EXPECT_EQ((*result)[1].line, "ID:1 CLEAVIX   (*)");
}

TEST_F(ListingTest, ListingOfAMissingAdaptorEndsWithEveryTargetAbsent) {
    DeviceListing listing(*layer);
    std::optional<std::vector<DeviceEntry>> result;
    listing.start(4, nullptr, [&](const std::vector<DeviceEntry>& all) { result = all; });
    ASSERT_TRUE(testkit::runUntil(loop, [&] { return result.has_value(); }));
    ASSERT_EQ(result->size(), 7u);
    for (const auto& entry : *result) {
        EXPECT_FALSE(entry.inquiry);
    }
}

TEST_F(ListingTest, DestroyedListingDropsTheRest) {
    int each = 0;
    {
        DeviceListing listing(*layer);
        listing.start(0, [&](const DeviceEntry&) { ++each; }, nullptr);
    }
    testkit::runUntil(loop, [] { return false; }, 100ms);
    EXPECT_EQ(each, 0);
}

} // namespace
} // namespace cleavix::sampler::scsi
