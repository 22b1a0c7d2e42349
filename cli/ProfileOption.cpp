#include "cli/ProfileOption.h"

namespace cleavix::cli {

namespace pf = sampler::profiles;

pf::ProfileStore takeProfileStore(Args& args) {
    const auto config = takeOption(args, "--config");
    return config ? pf::ProfileStore(*config) : pf::ProfileStore();
}

ProfileChoice checkProfile(const pf::ProfileStore& store, const std::string& name, const pf::InstalledDevices& devices,
                           bool scsiAvailable) {
    ProfileChoice choice;
    choice.name = name;
    choice.check = pf::checkBinding(!store.names().empty(), store.read(name), devices, scsiAvailable);
    return choice;
}

} // namespace cleavix::cli
