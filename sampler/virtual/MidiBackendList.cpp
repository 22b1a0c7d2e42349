#include "sampler/virtual/MidiBackendList.h"

#if defined(CLEAVIX_HAVE_ALSA_MIDI)
#include "sampler/midi/AlsaMidi.h"
#endif

namespace cleavix::sampler::virt {

std::shared_ptr<midi::VirtualMidiBackend> makeVirtualMidiBackend(std::shared_ptr<VirtualSdsSampler> sds) {
    auto backend = std::make_shared<midi::VirtualMidiBackend>();
    backend->addEndpoint(std::make_shared<midi::VirtualCable>());
    backend->addEndpoint(sds ? std::move(sds) : VirtualSdsSampler::fromEnvironment());
    return backend;
}

midi::MidiBackends defaultMidiBackends(std::shared_ptr<midi::VirtualMidiBackend> virtualPorts) {
    midi::MidiBackends backends;
#if defined(CLEAVIX_HAVE_ALSA_MIDI)
    for (auto& backend : midi::makeAlsaMidiBackends()) {
        backends.push_back(std::move(backend));
    }
#endif
    backends.push_back(virtualPorts ? std::move(virtualPorts) : makeVirtualMidiBackend());
    return backends;
}

} // namespace cleavix::sampler::virt
