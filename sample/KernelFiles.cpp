#include "sample/KernelFiles.h"

#include <climits>
#include <cstdlib>
#include <sys/vfs.h>

namespace cleavix::sample {

bool onKernelFileSystem(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        const std::string canonical = resolved;
        for (const std::string root : {"/proc", "/sys", "/dev"}) {
            if (canonical == root || canonical.rfind(root + "/", 0) == 0) {
                return true;
            }
        }
    }
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9fa0UL:     // proc
    case 0x62656572UL: // sysfs
    case 0x1cd1UL:     // devpts
    case 0x64626720UL: // debugfs
    case 0x74726163UL: // tracefs
    case 0x27e0ebUL:   // cgroup
    case 0x63677270UL: // cgroup2
        return true;
    default:
        return false;
    }
}

} // namespace cleavix::sample
