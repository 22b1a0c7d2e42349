// The SCSI layer over the virtual bus: every command ends in exactly one completion on the main
// thread, whatever fault the bus was told to produce.
#include "ScsiTestKit.h"

#include "sampler/scsi/ScsiCommands.h"
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/virtual/VirtualScsiBus.h"

#include <gtest/gtest.h>

#include <thread>

namespace cleavix::sampler::scsi {
namespace {

using namespace std::chrono_literals;
using testkit::Ends;
using testkit::runUntil;

class VirtualBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_shared<VirtualScsiBus>();
        echo = std::make_shared<testkit::EchoTarget>();
        bus->attach(2, echo);
        bus->attach(4, std::make_shared<VirtualDiskTarget>());
        layer = std::make_unique<ScsiLayer>(loop);
        layer->addBackend(bus);
    }

    Ends run(const Request& request, std::chrono::milliseconds limit = 3000ms) {
        return testkit::execute(loop, *layer, request, limit);
    }

    Request inquiry(uint8_t target, std::chrono::milliseconds timeout = 0ms) {
        Request r{.adaptor = 0, .target = target, .direction = Direction::In, .cdb = inquiryCdb(),
                  .buffer = buffer.data(), .length = kInquiryLength, .timeout = timeout};
        return r;
    }

    jobs::MainLoop loop;
    std::shared_ptr<VirtualScsiBus> bus;
    std::shared_ptr<testkit::EchoTarget> echo;
    std::unique_ptr<ScsiLayer> layer;
    std::array<uint8_t, 128> buffer{};
};

TEST_F(VirtualBusTest, ListsTheBusAsOneAdaptorWithItsName) {
    const auto adaptors = layer->adaptors();
    ASSERT_EQ(adaptors.size(), 1u);
    EXPECT_EQ(adaptors[0].index, 0);
    EXPECT_EQ(adaptors[0].identifier, "Cleavix virtual SCSI bus");
    EXPECT_TRUE(adaptors[0].virtualBus);
    EXPECT_EQ(adaptorLine(adaptors[0]), "ID:0 Cleavix virtual SCSI bus");
}

TEST_F(VirtualBusTest, HiddenBusGivesAnEmptyAdaptorListAndRefusesCommands) {
    bus->setListed(false);
    EXPECT_TRUE(layer->adaptors().empty());
    const Ends ends = run(inquiry(2));
    EXPECT_EQ(ends.count, 1);
    EXPECT_FALSE(ends.last.completed);
    EXPECT_EQ(ends.last.hostStatus, host_status::kNoConnect);
}

TEST_F(VirtualBusTest, InquiryAnswersOnTheMainThreadWithTheBytesMoved) {
    const Ends ends = run(inquiry(2));
    ASSERT_EQ(ends.count, 1);
    EXPECT_TRUE(ends.last.completed);
    EXPECT_EQ(ends.thread, std::this_thread::get_id());
    EXPECT_EQ(ends.last.transferred, kInquiryLength);
    const auto data = parseInquiry(std::span<const uint8_t>(buffer.data(), ends.last.transferred));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->peripheralType, kProcessorDevice);
    EXPECT_EQ(deviceLine(2, data), "ID:2 CLEAVIX ECHO SAMPLER 0.9 (*)");
    // The target ran on the bus's thread, not the main thread.
    std::lock_guard lock(echo->mutex_);
    ASSERT_EQ(echo->threads.size(), 1u);
    EXPECT_NE(echo->threads[0], std::this_thread::get_id());
}

TEST_F(VirtualBusTest, DataOutIsCopiedWhenIssuedAndDataInIsRead) {
    std::vector<uint8_t> out = {1, 2, 3, 4, 5};
    Request send{.target = 2, .direction = Direction::Out, .cdb = *makeCdb(op::kSend, 5), .buffer = out.data(),
                 .length = 5};
    Ends sent;
    layer->execute(send, [&](const Completion& c) {
        ++sent.count;
        sent.last = c;
    });
    out.assign(5, 0xEE); // the caller may reuse its buffer once the command is issued
    runUntil(loop, [&] { return sent.count > 0; });
    ASSERT_TRUE(sent.last.completed);
    EXPECT_EQ(sent.last.transferred, 5u);

    Request receive{.target = 2, .direction = Direction::In, .cdb = *makeCdb(op::kReceive, 8), .buffer = buffer.data(),
                    .length = 8};
    buffer.fill(0x55);
    const Ends received = run(receive);
    ASSERT_TRUE(received.last.completed);
    EXPECT_EQ(received.last.transferred, 5u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0, 0}))
        << "bytes past the transfer are zero, not what the buffer held before";
}

TEST_F(VirtualBusTest, EmptyIdEndsNotCompletedWithNoConnect) {
    const Ends ends = run(inquiry(5));
    EXPECT_EQ(ends.count, 1);
    EXPECT_FALSE(ends.last.completed);
    EXPECT_FALSE(ends.last.timedOut);
    EXPECT_EQ(ends.last.hostStatus, host_status::kNoConnect);
    EXPECT_EQ(ends.last.transferred, 0u);
}

TEST_F(VirtualBusTest, DiskTargetIsTypeZeroAndRefusesSamplerCommands) {
    const Ends ends = run(inquiry(4));
    ASSERT_TRUE(ends.last.completed);
    const auto data = parseInquiry(std::span<const uint8_t>(buffer.data(), ends.last.transferred));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->peripheralType, 0);
    EXPECT_EQ(deviceLine(4, data), "ID:4 CLEAVIX VIRTUAL DISK 1.0");

    Request receive = inquiry(4);
    receive.cdb = *makeCdb(op::kReceive, 14);
    receive.length = 14;
    const Ends refused = run(receive);
    EXPECT_FALSE(refused.last.completed);
    EXPECT_EQ(refused.last.targetStatus, target_status::kCheckCondition);
    EXPECT_EQ(senseKeyOf(refused.last.sense, refused.last.senseLength), sense_key::kIllegalRequest);
}

TEST_F(VirtualBusTest, NeverCompletingCommandEndsOnceAtItsTimeOut) {
    bus->injectFault(2, VirtualScsiFault::neverCompletes());
    buffer.fill(0x77);
    const auto started = std::chrono::steady_clock::now();
    const Ends ends = run(inquiry(2, 150ms));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(ends.count, 1);
    EXPECT_FALSE(ends.last.completed);
    EXPECT_TRUE(ends.last.timedOut);
    EXPECT_EQ(ends.last.transferred, 0u);
    EXPECT_GE(took, 150ms);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + kInquiryLength, [](uint8_t b) { return b == 0; }))
        << "the data-in buffer is zeroed when the command is issued";
    // The next command to the same target goes through.
    const Ends next = run(inquiry(2));
    EXPECT_TRUE(next.last.completed);
}

TEST_F(VirtualBusTest, HostErrorAndBusyEndOnceNotCompletedWithTheirStatus) {
    struct Case {
        const char* name;
        VirtualScsiFault fault;
        uint8_t hostStatus;
        uint8_t targetStatus;
    };
    const Case cases[] = {
        {"host adaptor error", VirtualScsiFault::hostError(), host_status::kError, target_status::kGood},
        {"busy", VirtualScsiFault::busy(), host_status::kOk, target_status::kBusy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bus->injectFault(2, c.fault);
        const Ends ends = run(inquiry(2));
        EXPECT_EQ(ends.count, 1);
        EXPECT_FALSE(ends.last.completed);
        EXPECT_EQ(ends.last.hostStatus, c.hostStatus);
        EXPECT_EQ(ends.last.targetStatus, c.targetStatus);
        EXPECT_EQ(ends.last.transferred, 0u);
        // The next command to the same target goes through.
        EXPECT_TRUE(run(inquiry(2)).last.completed);
    }
}

TEST_F(VirtualBusTest, CheckConditionCarriesItsSenseToTheCaller) {
    bus->injectFault(2, VirtualScsiFault::checkCondition(sense_key::kNotReady, 0x04, 0x01));
    const Ends ends = run(inquiry(2));
    EXPECT_EQ(ends.count, 1);
    EXPECT_FALSE(ends.last.completed);
    EXPECT_EQ(ends.last.targetStatus, target_status::kCheckCondition);
    EXPECT_EQ(ends.last.senseLength, kSenseLength);
    EXPECT_EQ(ends.last.sense[0], 0x70);
    EXPECT_EQ(senseKeyOf(ends.last.sense, ends.last.senseLength), sense_key::kNotReady);
    EXPECT_EQ(ends.last.sense[12], 0x04);
    EXPECT_EQ(ends.last.sense[13], 0x01);
    EXPECT_EQ(describeFailure(ends.last), "CHECK CONDITION, sense key 0x2, ASC 0x04, ASCQ 0x01");
}

TEST_F(VirtualBusTest, ShortTransferReportsOnlyTheBytesMoved) {
    bus->injectFault(2, VirtualScsiFault::shortTransfer(20));
    const Ends ends = run(inquiry(2));
    EXPECT_EQ(ends.count, 1);
    EXPECT_TRUE(ends.last.completed);
    EXPECT_EQ(ends.last.transferred, 20u);
    EXPECT_TRUE(std::all_of(buffer.begin() + 20, buffer.begin() + kInquiryLength, [](uint8_t b) { return b == 0; }));
    // Read only as far as it came: the vendor field (8..15) is cut, product and revision are gone.
    const auto data = parseInquiry(std::span<const uint8_t>(buffer.data(), ends.last.transferred));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->vendor, "CLEAVIX");
    EXPECT_EQ(data->product, "ECHO");
    EXPECT_EQ(data->revision, "");
}

TEST_F(VirtualBusTest, LateAnswerAfterTheTimeOutChangesNothing) {
    bus->injectFault(2, VirtualScsiFault::late(300ms));
    const Ends ends = run(inquiry(2, 60ms), 2000ms);
    EXPECT_EQ(ends.count, 1);
    EXPECT_TRUE(ends.last.timedOut);
    buffer.fill(0x33);
    // Let the late answer arrive; it must neither call back nor write the buffer.
    runUntil(loop, [] { return false; }, 400ms);
    EXPECT_EQ(ends.count, 1);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x33; }));
}

TEST_F(VirtualBusTest, LateAnswerWithinTheTimeOutIsTaken) {
    bus->injectFault(2, VirtualScsiFault::late(50ms));
    const Ends ends = run(inquiry(2, 2000ms));
    EXPECT_EQ(ends.count, 1);
    EXPECT_TRUE(ends.last.completed);
    EXPECT_EQ(ends.last.transferred, kInquiryLength);
}

TEST_F(VirtualBusTest, LateTargetDoesNotHoldUpOtherTargets) {
    bus->injectFault(2, VirtualScsiFault::late(1500ms));
    int lateEnds = 0;
    layer->execute(inquiry(2, 3000ms), [&](const Completion&) { ++lateEnds; });
    std::array<uint8_t, kInquiryLength> other{};
    Request disk = inquiry(4);
    disk.buffer = other.data();
    int diskEnds = 0;
    const auto started = std::chrono::steady_clock::now();
    layer->execute(disk, [&](const Completion& c) {
        ++diskEnds;
        EXPECT_TRUE(c.completed);
    });
    ASSERT_TRUE(runUntil(loop, [&] { return diskEnds == 1; }));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);
    EXPECT_EQ(lateEnds, 0);
    ASSERT_TRUE(runUntil(loop, [&] { return lateEnds == 1; }));
}

TEST_F(VirtualBusTest, FaultsQueueInOrderOneCommandEach) {
    bus->injectFault(2, VirtualScsiFault::busy());
    bus->injectFault(2, VirtualScsiFault::hostError());
    EXPECT_EQ(run(inquiry(2)).last.targetStatus, target_status::kBusy);
    EXPECT_EQ(run(inquiry(2)).last.hostStatus, host_status::kError);
    EXPECT_TRUE(run(inquiry(2)).last.completed);
    EXPECT_EQ(bus->commandsSeen(2), 3u);
}

TEST_F(VirtualBusTest, AdaptorOutOfRangeAndMissingBufferAreRefused) {
    Request r = inquiry(2);
    r.adaptor = 3;
    const Ends noAdaptor = run(r);
    EXPECT_EQ(noAdaptor.count, 1);
    EXPECT_EQ(noAdaptor.last.hostStatus, host_status::kNoConnect);
    r = inquiry(2);
    r.adaptor = -1;
    EXPECT_EQ(run(r).count, 1);
    r = inquiry(2);
    r.buffer = nullptr;
    const Ends noBuffer = run(r);
    EXPECT_EQ(noBuffer.count, 1);
    EXPECT_FALSE(noBuffer.last.completed);
    EXPECT_EQ(bus->commandsSeen(2), 0u);
}

TEST_F(VirtualBusTest, DefaultTimeOutsFollowTheOperation) {
    EXPECT_EQ(defaultTimeout(op::kInquiry), kControlTimeout);
    EXPECT_EQ(defaultTimeout(op::kTestUnitReady), kControlTimeout);
    EXPECT_EQ(defaultTimeout(op::kSend), kDataTimeout);
    EXPECT_EQ(defaultTimeout(op::kReceive), kDataTimeout);
    EXPECT_EQ(kControlTimeout, 5000ms);
    EXPECT_EQ(kDataTimeout, 30000ms);
}

TEST_F(VirtualBusTest, DestroyingTheLayerDropsPendingCompletions) {
    bus->injectFault(2, VirtualScsiFault::late(100ms));
    int ends = 0;
    layer->execute(inquiry(2), [&](const Completion&) { ++ends; });
    layer.reset();
    runUntil(loop, [] { return false; }, 250ms);
    EXPECT_EQ(ends, 0);
}

TEST_F(VirtualBusTest, ManyCommandsEachEndOnce) {
    std::vector<std::array<uint8_t, kInquiryLength>> buffers(40);
    std::vector<int> ends(40, 0);
    for (size_t i = 0; i < buffers.size(); ++i) {
        if (i % 5 == 1) {
            bus->injectFault(2, VirtualScsiFault::neverCompletes());
        } else if (i % 5 == 3) {
            bus->injectFault(2, VirtualScsiFault::late(std::chrono::milliseconds(i)));
        }
        Request r = inquiry(2, 200ms);
        r.buffer = buffers[i].data();
        layer->execute(r, [&ends, i](const Completion&) { ++ends[i]; });
    }
    ASSERT_TRUE(runUntil(loop, [&] { return std::all_of(ends.begin(), ends.end(), [](int n) { return n > 0; }); }));
    runUntil(loop, [] { return false; }, 250ms);
    EXPECT_TRUE(std::all_of(ends.begin(), ends.end(), [](int n) { return n == 1; }));
}

} // namespace
} // namespace cleavix::sampler::scsi
