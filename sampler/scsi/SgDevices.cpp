#include "sampler/scsi/SgDevices.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>

namespace cleavix::sampler::scsi {

namespace fs = std::filesystem;

namespace {

std::optional<int> number(std::string_view text) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

} // namespace

std::optional<SgNode> parseHctl(const std::string& text) {
    int parts[4] = {};
    size_t from = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t colon = text.find(':', from);
        const bool last = i == 3;
        if (last != (colon == std::string::npos)) {
            return std::nullopt;
        }
        const auto value = number(std::string_view(text).substr(from, last ? std::string::npos : colon - from));
        if (!value) {
            return std::nullopt;
        }
        parts[i] = *value;
        from = colon + 1;
    }
    return SgNode{{}, parts[0], parts[1], parts[2], parts[3]};
}

std::vector<SgNode> listSgNodes(const fs::path& sysRoot) {
    std::vector<SgNode> nodes;
    std::error_code error;
    const fs::path folder = sysRoot / "class" / "scsi_generic";
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("sg", 0) != 0 || !number(std::string_view(name).substr(2))) {
            continue;
        }
        std::error_code linkError;
        const fs::path device = fs::canonical(it->path() / "device", linkError);
        if (linkError) {
            continue;
        }
        auto node = parseHctl(device.filename().string());
        if (!node) {
            continue;
        }
        node->name = name;
        nodes.push_back(*node);
    }
    std::sort(nodes.begin(), nodes.end(), [](const SgNode& a, const SgNode& b) {
        return std::tie(a.host, a.target, a.channel, a.lun) < std::tie(b.host, b.target, b.channel, b.lun);
    });
    return nodes;
}

std::vector<SgHost> listSgHosts(const fs::path& sysRoot) {
    std::map<int, SgHost> hosts;
    std::error_code error;
    for (fs::directory_iterator it(sysRoot / "class" / "scsi_host", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("host", 0) != 0) {
            continue;
        }
        const auto host = number(std::string_view(name).substr(4));
        if (!host) {
            continue;
        }
        std::string identifier = firstLine(it->path() / "proc_name");
        if (identifier.empty()) {
            identifier = name;
        }
        identifier.resize(std::min(identifier.size(), kIdentifierLength));
        hosts[*host] = SgHost{*host, identifier, {}};
    }
    for (const auto& node : listSgNodes(sysRoot)) {
        if (auto host = hosts.find(node.host); host != hosts.end() && node.lun == 0) {
            host->second.nodes.push_back(node);
        }
    }
    std::vector<SgHost> list;
    for (auto& [number, host] : hosts) {
        if (!host.nodes.empty()) {
            list.push_back(std::move(host));
        }
    }
    return list;
}

const SgNode* findNode(const SgHost& host, int target) {
    for (const auto& node : host.nodes) {
        if (node.target == target) {
            return &node; // nodes are sorted by target, then channel
        }
    }
    return nullptr;
}

sg_io_hdr_t makeSgIoHeader(const ScsiCommand& command, uint8_t* data, uint8_t* sense) {
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    switch (command.direction) {
    case Direction::In:
        header.dxfer_direction = SG_DXFER_FROM_DEV;
        break;
    case Direction::Out:
        header.dxfer_direction = SG_DXFER_TO_DEV;
        break;
    case Direction::None:
        header.dxfer_direction = SG_DXFER_NONE;
        break;
    }
    const bool moves = command.direction != Direction::None && command.length > 0;
    if (!moves) {
        header.dxfer_direction = SG_DXFER_NONE;
    }
    header.cmd_len = static_cast<unsigned char>(kCdbLength);
    header.mx_sb_len = static_cast<unsigned char>(kSenseLength);
    header.dxfer_len = moves ? command.length : 0;
    header.dxferp = moves ? data : nullptr;
    header.cmdp = const_cast<unsigned char*>(command.cdb.data());
    header.sbp = sense;
    header.timeout = static_cast<unsigned int>(std::max<long long>(command.timeout.count(), 1));
    return header;
}

Outcome outcomeFromSgIoHeader(const sg_io_hdr_t& header, const uint8_t* sense) {
    Outcome outcome;
    outcome.targetStatus = header.status;
    outcome.hostStatus = static_cast<uint8_t>(std::min<unsigned>(header.host_status, 0xff));
    outcome.driverStatus = static_cast<uint8_t>(header.driver_status & 0xff);
    outcome.senseLength = std::min<uint8_t>(header.sb_len_wr, kSenseLength);
    std::copy_n(sense, outcome.senseLength, outcome.sense.begin());
    const long long moved = static_cast<long long>(header.dxfer_len) - std::max(header.resid, 0);
    outcome.transferred = static_cast<uint32_t>(std::clamp<long long>(moved, 0, header.dxfer_len));
    if ((outcome.driverStatus & 0x0f) == driver_status::kTimeout) {
        outcome.hostStatus = host_status::kTimeOut;
        outcome.detail = "timed out";
    }
    return outcome;
}

} // namespace cleavix::sampler::scsi
