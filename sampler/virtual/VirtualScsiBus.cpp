// Threads: see VirtualScsiBus.h. The bus thread takes queued commands in order and hands late
// answers back when they are due; the lock guards the queue, the targets and the faults, never a
// target's execute().
#include "sampler/virtual/VirtualScsiBus.h"

#include "sampler/scsi/ScsiCommands.h"

#include <algorithm>
#include <optional>

namespace cleavix::sampler::scsi {

TargetAnswer TargetAnswer::checkCondition(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    TargetAnswer answer;
    answer.status = target_status::kCheckCondition;
    answer.sense = fixedSense(senseKey, asc, ascq);
    answer.senseLength = static_cast<uint8_t>(kSenseLength);
    return answer;
}

TargetAnswer VirtualDiskTarget::execute(const TargetCommand& command) {
    TargetAnswer answer;
    switch (command.cdb[0]) {
    case op::kInquiry:
        answer.dataIn = buildInquiry(0, "CLEAVIX", "VIRTUAL DISK", "1.0");
        return answer;
    case op::kTestUnitReady:
        return answer;
    default:
        return TargetAnswer::checkCondition(sense_key::kIllegalRequest, 0x20); // invalid operation code
    }
}

VirtualScsiFault VirtualScsiFault::checkCondition(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    VirtualScsiFault fault{Kind::CheckCondition};
    fault.sense = fixedSense(senseKey, asc, ascq);
    fault.senseLength = static_cast<uint8_t>(kSenseLength);
    return fault;
}

VirtualScsiFault VirtualScsiFault::shortTransfer(uint32_t bytes) {
    VirtualScsiFault fault{Kind::ShortTransfer};
    fault.bytes = bytes;
    return fault;
}

VirtualScsiFault VirtualScsiFault::late(std::chrono::milliseconds delay) {
    VirtualScsiFault fault{Kind::Late};
    fault.delay = delay;
    return fault;
}

VirtualScsiBus::VirtualScsiBus() : thread_([this] { run(); }) {}

VirtualScsiBus::~VirtualScsiBus() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void VirtualScsiBus::attach(uint8_t id, std::shared_ptr<VirtualScsiTarget> target) {
    std::lock_guard lock(mutex_);
    if (id < kTargetIds && target) {
        targets_[id] = std::move(target);
    }
}

void VirtualScsiBus::detach(uint8_t id) {
    std::lock_guard lock(mutex_);
    targets_.erase(id);
}

void VirtualScsiBus::injectFault(uint8_t id, VirtualScsiFault fault) {
    std::lock_guard lock(mutex_);
    faults_[id].push_back(fault);
}

void VirtualScsiBus::setListed(bool listed) {
    std::lock_guard lock(mutex_);
    listed_ = listed;
}

uint32_t VirtualScsiBus::commandsSeen(uint8_t id) const {
    std::lock_guard lock(mutex_);
    return id < kTargetIds ? seen_[id] : 0;
}

std::vector<ScsiBackend::AdaptorInfo> VirtualScsiBus::adaptors() {
    std::lock_guard lock(mutex_);
    if (!listed_) {
        return {};
    }
    return {AdaptorInfo{0, kName}};
}

void VirtualScsiBus::start(std::shared_ptr<ScsiCommand> command) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(command));
    }
    wake_.notify_all();
}

void VirtualScsiBus::run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const auto now = Clock::now();
        auto due = std::find_if(delayed_.begin(), delayed_.end(), [&](const Delayed& d) { return d.due <= now; });
        if (due != delayed_.end()) {
            Delayed late = std::move(*due);
            delayed_.erase(due);
            lock.unlock();
            late.command->finish(std::move(late.outcome));
            lock.lock();
            continue;
        }
        if (!queue_.empty()) {
            auto command = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            if (!command->ended()) {
                runOne(command);
            }
            lock.lock();
            continue;
        }
        if (delayed_.empty()) {
            wake_.wait(lock);
        } else {
            const auto next = std::min_element(delayed_.begin(), delayed_.end(),
                                               [](const Delayed& a, const Delayed& b) { return a.due < b.due; });
            wake_.wait_until(lock, next->due);
        }
    }
}

void VirtualScsiBus::runOne(const std::shared_ptr<ScsiCommand>& command) {
    std::shared_ptr<VirtualScsiTarget> target;
    std::optional<VirtualScsiFault> fault;
    {
        std::lock_guard lock(mutex_);
        if (command->localAdaptor != 0 || !listed_) {
            target = nullptr;
        } else if (auto found = targets_.find(command->target); found != targets_.end() && command->lun == 0) {
            target = found->second;
        }
        if (command->target < kTargetIds) {
            ++seen_[command->target];
        }
        if (auto queued = faults_.find(command->target); queued != faults_.end() && !queued->second.empty()) {
            fault = queued->second.front();
            queued->second.pop_front();
        }
    }
    using Kind = VirtualScsiFault::Kind;
    Outcome outcome;
    if (fault && fault->kind == Kind::NeverCompletes) {
        return; // the layer's watchdog ends it
    }
    if (fault && fault->kind == Kind::HostError) {
        outcome.hostStatus = host_status::kError;
        outcome.detail = "host adaptor error";
        command->finish(std::move(outcome));
        return;
    }
    if (fault && fault->kind == Kind::Busy) {
        outcome.targetStatus = target_status::kBusy;
        command->finish(std::move(outcome));
        return;
    }
    if (fault && fault->kind == Kind::CheckCondition) {
        outcome.targetStatus = target_status::kCheckCondition;
        outcome.driverStatus = driver_status::kSense;
        outcome.sense = fault->sense;
        outcome.senseLength = fault->senseLength;
        command->finish(std::move(outcome));
        return;
    }
    if (!target) {
        outcome.hostStatus = host_status::kNoConnect;
        outcome.detail = "no device at ID " + std::to_string(command->target);
        command->finish(std::move(outcome));
        return;
    }

    TargetCommand asked;
    asked.cdb = command->cdb;
    asked.direction = command->direction;
    asked.dataOut = command->dataOut;
    asked.allocationLength = command->direction == Direction::In ? command->length : 0;
    TargetAnswer answer = target->execute(asked);

    outcome.targetStatus = answer.status;
    outcome.sense = answer.sense;
    outcome.senseLength = std::min<uint8_t>(answer.senseLength, kSenseLength);
    if (outcome.senseLength > 0) {
        outcome.driverStatus = driver_status::kSense;
    }
    if (command->direction == Direction::In) {
        answer.dataIn.resize(std::min<size_t>(answer.dataIn.size(), command->length));
        outcome.transferred = static_cast<uint32_t>(answer.dataIn.size());
        outcome.dataIn = std::move(answer.dataIn);
    } else if (command->direction == Direction::Out) {
        outcome.transferred = answer.status == target_status::kGood ? command->length : 0;
    }
    if (fault && fault->kind == Kind::ShortTransfer) {
        outcome.transferred = std::min(outcome.transferred, fault->bytes);
        if (outcome.dataIn.size() > outcome.transferred) {
            outcome.dataIn.resize(outcome.transferred);
        }
    }
    if (fault && fault->kind == Kind::Late) {
        std::lock_guard lock(mutex_);
        delayed_.push_back({Clock::now() + fault->delay, command, std::move(outcome)});
        return; // run() wakes at the next turn of its loop
    }
    command->finish(std::move(outcome));
}

} // namespace cleavix::sampler::scsi
