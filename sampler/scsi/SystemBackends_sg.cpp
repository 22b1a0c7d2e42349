// Built with the Linux SCSI generic backend.
#include "sampler/scsi/SgBackend.h"
#include "sampler/scsi/SystemBackends.h"

namespace cleavix::sampler::scsi {

std::vector<std::shared_ptr<ScsiBackend>> systemBackends() {
    return {std::make_shared<SgBackend>()};
}

} // namespace cleavix::sampler::scsi
