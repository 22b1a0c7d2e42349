#pragma once
// The sampler profile a command works with (the transfer commands' "--profile NAME", with
// "--config FILE" for another settings file), read and checked as binding checks it before a
// transfer; `profiles check` shows the verdict on its own.
#include "cli/Cli.h"
#include "sampler/profiles/ProfileBinding.h"
#include "sampler/profiles/ProfileStore.h"

#include <optional>
#include <string>

namespace cleavix::cli {

// The settings file of --config, or the window's.
sampler::profiles::ProfileStore takeProfileStore(Args& args);

struct ProfileChoice {
    std::string name;
    sampler::profiles::BindingCheck check;
};

// The binding checks for the profile `name` of `store`.
ProfileChoice checkProfile(const sampler::profiles::ProfileStore& store, const std::string& name,
                           const sampler::profiles::InstalledDevices& devices, bool scsiAvailable);

} // namespace cleavix::cli
