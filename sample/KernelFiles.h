#pragma once
// Kernel file systems (/proc, /sys, /dev and their kin): reading their files can block or never
// end, and writing into them reaches the kernel, so neither the dialogs nor the exports go there.
// A plain function; no threads.
#include <string>

namespace cleavix::sample {

// Whether `path` (existing) lies on a kernel file system.
bool onKernelFileSystem(const std::string& path);

} // namespace cleavix::sample
