#include "sampler/scsi/ScsiListing.h"

#include <array>

namespace cleavix::sampler::scsi {

struct DeviceListing::State {
    ScsiLayer* layer = nullptr; // null once the listing is destroyed
    bool running = false;
    std::optional<int> lastListed;
    std::chrono::milliseconds timeout{0};
    int adaptor = 0;
    uint8_t next = 0;
    std::array<uint8_t, kInquiryLength> answer{};
    std::vector<DeviceEntry> entries;
    Each each;
    Done done;
};

DeviceListing::DeviceListing(ScsiLayer& layer, std::chrono::milliseconds timeout) : state_(std::make_shared<State>()) {
    state_->layer = &layer;
    state_->timeout = timeout;
}

DeviceListing::~DeviceListing() {
    state_->layer = nullptr;
    state_->each = nullptr;
    state_->done = nullptr;
}

bool DeviceListing::running() const {
    return state_->running;
}

std::optional<int> DeviceListing::lastListed() const {
    return state_->lastListed;
}

bool DeviceListing::start(int adaptor, Each each, Done done) {
    if (state_->running) {
        return false;
    }
    state_->running = true;
    state_->lastListed = adaptor;
    state_->adaptor = adaptor;
    state_->next = 0;
    state_->entries.clear();
    state_->each = std::move(each);
    state_->done = std::move(done);
    step(state_);
    return true;
}

void DeviceListing::step(const std::shared_ptr<State>& state) {
    if (!state->layer) {
        return;
    }
    if (state->next >= kListedTargets) {
        state->running = false;
        auto done = std::move(state->done);
        if (done) {
            done(state->entries);
        }
        return;
    }
    Request request;
    request.adaptor = state->adaptor;
    request.target = state->next;
    request.direction = Direction::In;
    request.cdb = inquiryCdb(static_cast<uint8_t>(kInquiryLength));
    request.buffer = state->answer.data();
    request.length = static_cast<uint32_t>(state->answer.size());
    request.timeout = state->timeout;
    state->layer->execute(request, [state](const Completion& completion) {
        if (!state->layer) {
            return;
        }
        DeviceEntry entry;
        entry.target = state->next;
        entry.completion = completion;
        if (completion.completed) {
            entry.inquiry = parseInquiry(std::span<const uint8_t>(state->answer.data(), completion.transferred));
        }
        entry.line = deviceLine(entry.target, entry.inquiry);
        state->entries.push_back(entry);
        ++state->next;
        if (state->each) {
            state->each(entry);
        }
        step(state);
    });
}

} // namespace cleavix::sampler::scsi
