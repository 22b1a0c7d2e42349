// The record command of the session: a take made in a working file of its own, and its keeping.
#include "sample/WorkFiles.h"
#include "session/RecordTake.h"
#include "session/Session.h"

#include <cassert>

namespace cleavix::session {

std::shared_ptr<RecordTake> Session::DoRecord() {
    assert(dispatcher_.isMainThread());
    if (jobs_.busy()) {
        return nullptr;
    }
    player_->Stop();
    try {
        return std::make_shared<RecordTake>(*this);
    } catch (const sample::StreamError&) {
        prompter_.ask(jobs::MessageKind::Error, editing::kMsgProcessingError, "", jobs::Buttons::Ok);
        return nullptr;
    }
}

bool Session::keepRecording(std::shared_ptr<RecordTake> take, std::function<void(bool)> done) {
    assert(dispatcher_.isMainThread());
    if (!take || jobs_.busy()) {
        return false;
    }
    take->stop();
    if (take->recordedBytes() == 0 || take->recordedBytes() > sample::kMaxDataLength) {
        return false;
    }
    // The prompt runs the keep at once, after a save it starts, or never (Cancel).
    auto started = std::make_shared<bool>(false);
    auto ran = std::make_shared<bool>(false);
    promptToSave([this, take, started, ran, done]() mutable {
        *ran = true;
        const auto length = static_cast<uint32_t>(take->recordedBytes());
        const uint16_t channels = take->channels();
        const uint32_t rate = take->rate();
        player_->CloseOutput();
        // The take lives until the worker that reads it has finished.
        *started = editor_->newSampleFrom(take->stream(), length, channels, rate, "Record",
                                          [this, take, channels, rate, done](bool ok) {
                                              if (ok) {
                                                  player_->SampleRate = rate;
                                                  player_->Channels = static_cast<uint8_t>(channels);
                                                  player_->BitsPerSample = 16;
                                              }
                                              if (done) {
                                                  done(ok);
                                              }
                                          });
        if (!*started && done) {
            done(false);
        }
    });
    return *ran ? *started : jobs_.busy();
}

} // namespace cleavix::session
