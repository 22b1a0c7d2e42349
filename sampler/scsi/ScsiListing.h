#pragma once
// Listing the devices of a host adaptor: a standard INQUIRY to targets 0 to 6, one after another,
// each issued from the completion of the one before, with the lines the profile manager shows.
//
// Threads: main thread only; the steps run in the layer's completions. The listing's state is
// shared with its pending completion, so destroying the listing while it runs is safe (the rest
// of the listing is dropped).
#include "sampler/scsi/ScsiCommands.h"
#include "sampler/scsi/ScsiLayer.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cleavix::sampler::scsi {

inline constexpr uint8_t kListedTargets = 7; // IDs 0..6; 7 is the host adaptor itself

struct DeviceEntry {
    uint8_t target = 0;
    std::optional<InquiryData> inquiry; // nullopt: no device answered
    std::string line;
    Completion completion;
};

class DeviceListing {
public:
    using Each = std::function<void(const DeviceEntry&)>;
    using Done = std::function<void(const std::vector<DeviceEntry>&)>;

    explicit DeviceListing(ScsiLayer& layer, std::chrono::milliseconds timeout = kControlTimeout);
    ~DeviceListing();

    // Lists the targets of `adaptor`; `each` after every target, `done` after the last. False (and
    // nothing starts) while a listing runs.
    bool start(int adaptor, Each each, Done done);
    bool running() const;
    // The adaptor of the last listing started, if any.
    std::optional<int> lastListed() const;

private:
    struct State;
    static void step(const std::shared_ptr<State>& state);
    std::shared_ptr<State> state_;
};

} // namespace cleavix::sampler::scsi
