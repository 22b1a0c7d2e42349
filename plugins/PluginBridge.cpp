#include "plugins/PluginBridge.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace cleavix::plugins {

namespace fs = std::filesystem;

std::vector<std::string> PluginInfo::pages() const {
    std::vector<std::string> out;
    bool ungrouped = false;
    for (const auto& c : controls) {
        if (c.group.empty()) {
            ungrouped = true;
        } else if (std::find(out.begin(), out.end(), c.group) == out.end()) {
            out.push_back(c.group);
        }
    }
    // Controls without a group get a page of their own, after the groups.
    if (ungrouped || out.empty()) {
        out.emplace_back("Controls");
    }
    return out;
}

int PluginBridge::find(const std::string& uriOrIndex) const {
    const auto& list = plugins();
    for (const auto& p : list) {
        if (p.uri == uriOrIndex) {
            return p.index;
        }
    }
    if (uriOrIndex.empty() || uriOrIndex.size() > 9 ||
        uriOrIndex.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    const long index = std::strtol(uriOrIndex.c_str(), nullptr, 10);
    return index < long(list.size()) ? int(index) : -1;
}

std::unique_ptr<PluginInstance> NullBridge::open(int, double, std::string& error) {
    error = "no plug-in host";
    return nullptr;
}

std::string defaultPresetFolder() {
    fs::path base;
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home != nullptr ? home : "/tmp") / ".local" / "share";
    }
    return (base / "Cleavix" / "Presets").string();
}

bool insideFolder(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) {
        return false;
    }
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) {
        return false;
    }
    const fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) {
        return false;
    }
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
        if (fi->empty()) {
            continue; // a trailing separator
        }
        if (pi == p.end() || *pi != *fi) {
            return false;
        }
    }
    // Strictly inside: the folder itself is not a preset.
    return pi != p.end() && !pi->empty();
}

} // namespace cleavix::plugins
