#pragma once
// The Linux SCSI generic backend: host adaptors from sysfs that have sg device nodes, and each
// command as one ioctl(SG_IO) on /dev/sgN.
//
// Threads: adaptors() and start() are for the main thread. Each device node gets a thread of its
// own when first used, which opens the node, issues its commands one after another and ends each
// with ScsiCommand::finish(); so a device that hangs holds up only its own commands. The kernel
// ends an ioctl at the command's time-out; the layer's watchdog ends the command at the same time
// should the kernel be late. The destructor stops and joins the threads.
#include "sampler/scsi/ScsiLayer.h"
#include "sampler/scsi/SgDevices.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace cleavix::sampler::scsi {

class SgBackend final : public ScsiBackend {
public:
    explicit SgBackend(std::filesystem::path sysRoot = "/sys", std::filesystem::path devRoot = "/dev");
    ~SgBackend() override;
    SgBackend(const SgBackend&) = delete;
    SgBackend& operator=(const SgBackend&) = delete;

    std::vector<AdaptorInfo> adaptors() override;
    void start(std::shared_ptr<ScsiCommand> command) override;

private:
    class NodeWorker;
    std::filesystem::path sysRoot_;
    std::filesystem::path devRoot_;
    std::vector<SgHost> hosts_; // the last listing
    std::map<std::string, std::unique_ptr<NodeWorker>> workers_;
};

} // namespace cleavix::sampler::scsi
