// Which bridge this build offers.
#include "plugins/PluginBridge.h"

#ifdef CLEAVIX_HAVE_LV2
#include "plugins/Lv2Bridge.h"
#endif

namespace cleavix::plugins {

std::unique_ptr<PluginBridge> makeBridge() {
#ifdef CLEAVIX_HAVE_LV2
    return std::make_unique<Lv2Bridge>();
#else
    return std::make_unique<NullBridge>();
#endif
}

} // namespace cleavix::plugins
