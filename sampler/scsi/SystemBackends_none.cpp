// Built without a system SCSI backend: only the virtual bus.
#include "sampler/scsi/SystemBackends.h"

namespace cleavix::sampler::scsi {

std::vector<std::shared_ptr<ScsiBackend>> systemBackends() {
    return {};
}

} // namespace cleavix::sampler::scsi
