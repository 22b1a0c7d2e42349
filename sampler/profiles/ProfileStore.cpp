#include "sampler/profiles/ProfileStore.h"

#include <algorithm>
#include <cstdlib>

namespace cleavix::sampler::profiles {

namespace fs = std::filesystem;

namespace {
std::string keyOf(const std::string& name) {
    return std::string(kSamplersGroup) + "/" + name;
}
} // namespace

fs::path defaultSettingsPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (xdg && *xdg && fs::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : ".") / ".config";
    }
    return base / "Cleavix" / "Cleavix.ini";
}

std::optional<std::string> invalidProfileName(const std::string& name) {
    if (name.empty()) {
        return "a profile needs a name";
    }
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
        return "a profile name may not hold '/' or '\\'";
    }
    if (name == kNoPresetsStored) {
        return std::string("\"") + kNoPresetsStored + "\" cannot name a profile";
    }
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
        return "a profile name may not hold control characters";
    }
    return std::nullopt;
}

ProfileStore::ProfileStore(fs::path path) : path_(std::move(path)) {}

std::vector<std::string> ProfileStore::names(std::string* error) const {
    const auto file = IniFile::load(path_, error);
    return file ? file->childKeys(kSamplersGroup) : std::vector<std::string>{};
}

std::vector<std::string> ProfileStore::listLines() const {
    auto list = names();
    if (list.empty()) {
        list.push_back(kNoPresetsStored);
    }
    return list;
}

ProfileRead ProfileStore::read(const std::string& name) const {
    ProfileRead result;
    std::string error;
    const auto file = IniFile::load(path_, &error);
    if (!file) {
        result.error = ProfileError::Missing;
        result.detail = error;
        return result;
    }
    if (!file->contains(keyOf(name))) {
        result.error = ProfileError::Missing;
        result.detail = "no profile named \"" + name + "\"";
        return result;
    }
    const auto bytes = file->bytes(keyOf(name));
    if (!bytes) {
        result.error = ProfileError::NotBinary;
        result.detail = "the value is not binary";
        return result;
    }
    return decodeProfile(*bytes);
}

bool ProfileStore::store(const std::string& name, const SamplerProfile& profile, std::string* error) const {
    if (auto why = invalidProfileName(name)) {
        if (error) {
            *error = *why;
        }
        return false;
    }
    if (auto field = invalidField(profile)) {
        if (error) {
            *error = "out of range: " + *field;
        }
        return false;
    }
    auto file = IniFile::load(path_, error);
    if (!file) {
        return false;
    }
    const auto bytes = encodeProfile(profile);
    file->setBytes(keyOf(name), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return file->save(path_, error);
}

bool ProfileStore::remove(const std::string& name, std::string* error) const {
    auto file = IniFile::load(path_, error);
    if (!file) {
        return false;
    }
    if (!file->contains(keyOf(name))) {
        if (error) {
            *error = "no profile named \"" + name + "\"";
        }
        return false;
    }
    file->remove(keyOf(name));
    return file->save(path_, error);
}

int positionOf(const std::vector<std::string>& names, const std::string& name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? 0 : static_cast<int>(found - names.begin());
}

int positionAfterDelete(int deleted) {
    return std::max(0, deleted - 1);
}

int lastUsedPosition(int pNo, int count) {
    return pNo >= 0 && pNo < count ? pNo : 0;
}

} // namespace cleavix::sampler::profiles
