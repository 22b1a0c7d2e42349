// Linux SCSI generic as data: the sysfs listing on a fake tree, the sg_io_hdr for each direction
// and the outcome read back; and the backend's failures on nodes that are no sg devices. The
// ioctl itself cannot run here (no SCSI bus).
#include "ScsiTestKit.h"
#include "support/TestSupport.h"

#include "sampler/scsi/ScsiCommands.h"
#include "sampler/scsi/SgBackend.h"
#include "sampler/scsi/SgDevices.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace cleavix::sampler::scsi {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A temporary folder laid out like /sys and /dev.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        temp = std::make_unique<test::TempDir>();
        root = temp->path();
        // Readable by others, as /sys and /dev are (a test below looks as another user).
        fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        fs::create_directories(root / "sys/class/scsi_generic");
        fs::create_directories(root / "sys/class/scsi_host");
        fs::create_directories(root / "dev");
    }
    void host(int number, const std::string& procName) {
        const fs::path folder = root / "sys/devices/pci0000:00" / ("host" + std::to_string(number));
        fs::create_directories(folder / "scsi_host" / ("host" + std::to_string(number)));
        const fs::path entry = folder / "scsi_host" / ("host" + std::to_string(number));
        if (!procName.empty()) {
            std::ofstream(entry / "proc_name") << procName << "\n";
        }
        fs::create_directory_symlink(entry, root / "sys/class/scsi_host" / ("host" + std::to_string(number)));
    }
    // An sg node whose device link leads to a folder named H:C:T:L, and a /dev entry for it.
    void node(const std::string& name, const std::string& hctl) {
        const fs::path device = root / "sys/devices/targets" / hctl;
        fs::create_directories(device);
        const fs::path entry = root / "sys/devices/sgclass" / name;
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
        fs::create_directory_symlink(entry, root / "sys/class/scsi_generic" / name);
        std::ofstream(root / "dev" / name) << "";
    }
    std::unique_ptr<test::TempDir> temp;
    fs::path root;
};

TEST(SgHctl, ParsesFourNumbersOnly) {
    const auto node = parseHctl("2:0:5:0");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->host, 2);
    EXPECT_EQ(node->channel, 0);
    EXPECT_EQ(node->target, 5);
    EXPECT_EQ(node->lun, 0);
    EXPECT_FALSE(parseHctl("2:0:5"));
    EXPECT_FALSE(parseHctl("2:0:5:0:1"));
    EXPECT_FALSE(parseHctl("a:0:5:0"));
    EXPECT_FALSE(parseHctl("2:-1:5:0"));
    EXPECT_FALSE(parseHctl("2::5:0"));
    EXPECT_FALSE(parseHctl(""));
}

TEST_F(FakeSysfs, NoSysfsMeansNoAdaptors) {
    EXPECT_TRUE(listSgHosts(root / "nothing-here").empty());
    EXPECT_TRUE(listSgHosts(root / "sys").empty());
    SgBackend backend(root / "nothing-here", root / "dev");
    EXPECT_TRUE(backend.adaptors().empty());
}

TEST_F(FakeSysfs, ListsHostsThatHaveSgNodesAtLunZero) {
    host(0, "ahci");
    host(3, "usb-storage");
    host(5, "a-very-long-driver-name-indeed");
    host(7, "");
    node("sg0", "0:0:0:0");   // a disk on the SATA host
    node("sg1", "3:0:4:0");   // the sampler on a USB SCSI adaptor
    node("sg2", "3:0:2:0");
    node("sg3", "3:0:2:1");   // LUN 1: not listed
    node("sg9", "7:0:1:0");
    node("sg4", "9:0:0:0");   // a host sysfs does not list
    fs::create_directories(root / "sys/class/scsi_generic/sgx");  // not an sg node name
    fs::create_directories(root / "sys/class/scsi_generic/sg8");  // no device link

    const auto hosts = listSgHosts(root / "sys");
    // Each host as "number identifier node@target ...", nodes in target order; host 7 has no
    // proc_name and is named as the host itself.
    std::vector<std::string> described;
    for (const auto& h : hosts) {
        described.push_back(std::to_string(h.host) + " " + h.identifier);
        for (const auto& n : h.nodes) {
            described.back() += " " + n.name + "@" + std::to_string(n.target);
        }
    }
    EXPECT_EQ(described, (std::vector<std::string>{"0 ahci sg0@0", "3 usb-storage sg2@2 sg1@4", "7 host7 sg9@1"}));
    ASSERT_EQ(hosts.size(), 3u);
    ASSERT_NE(findNode(hosts[1], 4), nullptr);
    EXPECT_EQ(findNode(hosts[1], 4)->name, "sg1");
    EXPECT_EQ(findNode(hosts[1], 6), nullptr);
}

TEST_F(FakeSysfs, IdentifiersAreCutToSixteenCharacters) {
    host(1, "a-very-long-driver-name-indeed");
    node("sg0", "1:0:3:0");
    const auto hosts = listSgHosts(root / "sys");
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0].identifier, "a-very-long-driv");
    EXPECT_EQ(hosts[0].identifier.size(), kIdentifierLength);
}

TEST_F(FakeSysfs, RealAdaptorsComeBeforeTheVirtualBus) {
    host(2, "mptspi");
    node("sg0", "2:0:5:0");
    jobs::MainLoop loop;
    ScsiLayer layer(loop);
    layer.addBackend(std::make_shared<SgBackend>(root / "sys", root / "dev"));
    layer.addBackend(std::make_shared<VirtualScsiBus>());
    const auto adaptors = layer.adaptors();
    ASSERT_EQ(adaptors.size(), 2u);
    EXPECT_EQ(adaptorLine(adaptors[0]), "ID:0 mptspi");
    EXPECT_EQ(adaptors[0].host, 2);
    EXPECT_FALSE(adaptors[0].virtualBus);
    EXPECT_EQ(adaptorLine(adaptors[1]), "ID:1 Cleavix virtual SCSI bus");
}

TEST_F(FakeSysfs, NodeThatIsNoSgDeviceFailsTheCommandWithItsError) {
    host(2, "mptspi");
    node("sg0", "2:0:5:0"); // /dev/sg0 here is a plain file: the ioctl is refused
    jobs::MainLoop loop;
    ScsiLayer layer(loop);
    layer.addBackend(std::make_shared<SgBackend>(root / "sys", root / "dev"));
    std::array<uint8_t, kInquiryLength> buffer{};
    Request request{.target = 5, .direction = Direction::In, .cdb = inquiryCdb(), .buffer = buffer.data(),
                    .length = kInquiryLength};
    auto ends = testkit::execute(loop, layer, request);
    ASSERT_EQ(ends.count, 1);
    EXPECT_FALSE(ends.last.completed);
    EXPECT_NE(ends.last.systemError, 0);
    EXPECT_NE(ends.last.detail.find("sg0"), std::string::npos);

    // A target without a node does not answer.
    request.target = 3;
    ends = testkit::execute(loop, layer, request);
    ASSERT_GT(ends.count, 0);
    EXPECT_EQ(ends.last.hostStatus, host_status::kNoConnect);
}

// The errno a TEST UNIT READY to target 5 of the fake tree's only host ends with.
int systemErrorOfTestUnitReady(const fs::path& root) {
    jobs::MainLoop loop;
    ScsiLayer layer(loop);
    layer.addBackend(std::make_shared<SgBackend>(root / "sys", root / "dev"));
    Request request{.target = 5, .direction = Direction::None, .cdb = testUnitReadyCdb()};
    const auto ends = testkit::execute(loop, layer, request);
    return ends.count == 1 && !ends.last.completed ? ends.last.systemError : -1;
}

TEST_F(FakeSysfs, NodeWithoutPermissionReportsEaccesWithTheGuideText) {
    host(2, "mptspi");
    node("sg0", "2:0:5:0");
    fs::permissions(root / "dev/sg0", fs::perms::none);
    int systemError = 0;
    if (::geteuid() != 0) {
        systemError = systemErrorOfTestUnitReady(root);
    } else {
        // Root opens any file: ask as an unprivileged user in a child process.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(100);
            }
            ::_exit(systemErrorOfTestUnitReady(root) == EACCES ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 100) << "could not drop privileges";
        systemError = WEXITSTATUS(status) == 0 ? EACCES : -1;
    }
    EXPECT_EQ(systemError, EACCES);
    Completion denied;
    denied.systemError = EACCES;
    const std::string text = communicationErrorText(denied);
    EXPECT_EQ(text.rfind("An error occurred during communication with the sampler", 0), 0u);
    EXPECT_NE(text.find("udev"), std::string::npos);
    EXPECT_NE(text.find("docs/guide/sampler.md"), std::string::npos);
    Completion other;
    other.timedOut = true;
    EXPECT_EQ(communicationErrorText(other), "An error occurred during communication with the sampler");
}

std::shared_ptr<ScsiCommand> commandOf(Direction direction, uint32_t length, Cdb cdb) {
    auto command = std::make_shared<ScsiCommand>();
    command->direction = direction;
    command->length = length;
    command->cdb = cdb;
    command->timeout = 5000ms;
    return command;
}

TEST(SgIoHeader, DataInOutAndNone) {
    uint8_t data[64] = {};
    uint8_t sense[kSenseLength] = {};
    const auto in = commandOf(Direction::In, 64, inquiryCdb(64));
    sg_io_hdr_t header = makeSgIoHeader(*in, data, sense);
    EXPECT_EQ(header.interface_id, 'S');
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(header.cmd_len, 6);
    EXPECT_EQ(header.mx_sb_len, 14);
    EXPECT_EQ(header.dxfer_len, 64u);
    EXPECT_EQ(header.dxferp, data);
    EXPECT_EQ(header.sbp, sense);
    EXPECT_EQ(header.timeout, 5000u);
    EXPECT_EQ(header.cmdp[0], op::kInquiry);
    EXPECT_EQ(header.cmdp[4], 64);
    EXPECT_EQ(header.iovec_count, 0);

    const auto out = commandOf(Direction::Out, 11, *makeCdb(op::kSend, 11));
    header = makeSgIoHeader(*out, data, sense);
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(header.dxfer_len, 11u);

    const auto none = commandOf(Direction::None, 0, testUnitReadyCdb());
    header = makeSgIoHeader(*none, data, sense);
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(header.dxfer_len, 0u);
    EXPECT_EQ(header.dxferp, nullptr);

    // Data in of no bytes moves nothing either.
    header = makeSgIoHeader(*commandOf(Direction::In, 0, inquiryCdb(0)), data, sense);
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_NONE);
}

TEST(SgIoHeader, OutcomeTakesStatusesSenseAndResidue) {
    sg_io_hdr_t header{};
    header.dxfer_len = 96;
    header.resid = 60;
    header.status = target_status::kGood;
    uint8_t sense[kSenseLength] = {};
    Outcome outcome = outcomeFromSgIoHeader(header, sense);
    EXPECT_EQ(outcome.transferred, 36u);
    EXPECT_EQ(outcome.hostStatus, host_status::kOk);

    header.resid = -5; // nonsense from a driver: nothing is made of it
    EXPECT_EQ(outcomeFromSgIoHeader(header, sense).transferred, 96u);
    header.resid = 500;
    EXPECT_EQ(outcomeFromSgIoHeader(header, sense).transferred, 0u);

    const Sense fixed = fixedSense(sense_key::kNotReady, 0x04);
    std::copy(fixed.begin(), fixed.end(), sense);
    header.resid = 96;
    header.status = target_status::kCheckCondition;
    header.driver_status = driver_status::kSense;
    header.sb_len_wr = 30; // more than the buffer: only 14 are read
    outcome = outcomeFromSgIoHeader(header, sense);
    EXPECT_EQ(outcome.targetStatus, target_status::kCheckCondition);
    EXPECT_EQ(outcome.senseLength, kSenseLength);
    EXPECT_EQ(senseKeyOf(outcome.sense, outcome.senseLength), sense_key::kNotReady);

    header = sg_io_hdr_t{};
    header.driver_status = driver_status::kTimeout;
    outcome = outcomeFromSgIoHeader(header, sense);
    EXPECT_EQ(outcome.hostStatus, host_status::kTimeOut);
    header = sg_io_hdr_t{};
    header.host_status = 0x1234; // wider than a byte: kept as "error", never wrapped to 0x34
    EXPECT_EQ(outcomeFromSgIoHeader(header, sense).hostStatus, 0xff);
}

} // namespace
} // namespace cleavix::sampler::scsi
