#include "sampler/scsi/ScsiCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cleavix::sampler::scsi {

namespace {

std::string trimmedField(std::span<const uint8_t> answer, size_t from, size_t to) {
    if (answer.size() <= from) {
        return {};
    }
    to = std::min(to, answer.size());
    std::string text;
    for (size_t i = from; i < to; ++i) {
        const uint8_t c = answer[i];
        // Printable ASCII only; anything else a device sends becomes a blank.
        text.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : ' ');
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

void putField(std::vector<uint8_t>& out, size_t at, size_t size, const std::string& text) {
    for (size_t i = 0; i < size; ++i) {
        out[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    }
}

} // namespace

std::optional<Cdb> makeCdb(uint8_t operationCode, uint32_t transferLength) {
    if (transferLength > kMaxTransfer24) {
        return std::nullopt;
    }
    return Cdb{operationCode, 0, uint8_t(transferLength >> 16), uint8_t(transferLength >> 8), uint8_t(transferLength), 0};
}

Cdb inquiryCdb(uint8_t allocationLength) {
    return Cdb{op::kInquiry, 0, 0, 0, allocationLength, 0};
}

Cdb testUnitReadyCdb() {
    return Cdb{op::kTestUnitReady, 0, 0, 0, 0, 0};
}

Sense fixedSense(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    Sense sense{};
    sense[0] = 0x70;
    sense[2] = senseKey & 0x0f;
    sense[7] = static_cast<uint8_t>(kSenseLength - 8); // additional sense length
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

std::optional<uint8_t> senseKeyOf(const Sense& sense, uint8_t length) {
    if (length < 3) {
        return std::nullopt;
    }
    const uint8_t code = sense[0] & 0x7f;
    if (code == 0x70 || code == 0x71) {
        return sense[2] & 0x0f;
    }
    if (code == 0x72 || code == 0x73) {
        return sense[1] & 0x0f;
    }
    return std::nullopt;
}

std::optional<InquiryData> parseInquiry(std::span<const uint8_t> answer) {
    if (answer.empty()) {
        return std::nullopt;
    }
    InquiryData data;
    data.peripheralType = answer[0] & 0x1f;
    data.qualifier = answer[0] >> 5;
    if (data.qualifier == 3) {
        return std::nullopt;
    }
    // The device says how much of the standard answer it filled; read no further.
    if (answer.size() > 4) {
        answer = answer.first(std::min<size_t>(answer.size(), size_t(answer[4]) + 5));
    }
    data.vendor = trimmedField(answer, 8, 16);
    data.product = trimmedField(answer, 16, 32);
    data.revision = trimmedField(answer, 32, 36);
    return data;
}

std::vector<uint8_t> buildInquiry(uint8_t type, const std::string& vendor, const std::string& product,
                                  const std::string& revision, uint32_t length) {
    std::vector<uint8_t> out(std::max<uint32_t>(length, 36), 0);
    out[0] = type & 0x1f;
    out[2] = 0x02; // SCSI-2
    out[3] = 0x02; // response data format
    out[4] = static_cast<uint8_t>(std::min<size_t>(out.size() - 5, 255));
    putField(out, 8, 8, vendor);
    putField(out, 16, 16, product);
    putField(out, 32, 4, revision);
    return out;
}

std::string adaptorLine(const Adaptor& adaptor) {
    return "ID:" + std::to_string(adaptor.index) + " " + adaptor.identifier;
}

std::string deviceLine(uint8_t target, const std::optional<InquiryData>& inquiry) {
    std::string line = "ID:" + std::to_string(target) + " ";
    if (!inquiry) {
        return line + "No Device Found";
    }
    line += inquiry->vendor + " " + inquiry->product + " " + inquiry->revision;
    if (inquiry->peripheralType == kProcessorDevice) {
        line += " (*)";
    }
    return line;
}

std::string communicationErrorText(const Completion& completion) {
    std::string text = kCommunicationError;
    if (completion.systemError == EACCES || completion.systemError == EPERM) {
        text += "\r\n\r\nThe SCSI device may not be opened by this user. The user guide "
                "(docs/guide/sampler.md, \"SCSI devices and permissions\") shows a udev rule that gives "
                "you the sampler's /dev/sg device.";
    }
    return text;
}

std::string describeFailure(const Completion& c) {
    if (c.completed) {
        return {};
    }
    if (c.timedOut) {
        return "no answer within the time-out";
    }
    if (c.systemError != 0) {
        return std::string("system error: ") + std::strerror(c.systemError);
    }
    char text[96];
    if (c.hostStatus != host_status::kOk) {
        std::snprintf(text, sizeof text, "host adaptor status 0x%02x%s", c.hostStatus,
                      c.hostStatus == host_status::kNoConnect ? " (no device)" : "");
        return text;
    }
    if (c.targetStatus == target_status::kCheckCondition) {
        const auto key = senseKeyOf(c.sense, c.senseLength);
        if (key) {
            std::snprintf(text, sizeof text, "CHECK CONDITION, sense key 0x%x, ASC 0x%02x, ASCQ 0x%02x", *key,
                          c.senseLength > 12 ? c.sense[12] : 0, c.senseLength > 13 ? c.sense[13] : 0);
            return text;
        }
        return "CHECK CONDITION without sense";
    }
    if (c.targetStatus == target_status::kBusy) {
        return "target busy";
    }
    if (c.targetStatus != target_status::kGood) {
        std::snprintf(text, sizeof text, "target status 0x%02x", c.targetStatus);
        return text;
    }
    std::snprintf(text, sizeof text, "driver status 0x%02x", c.driverStatus);
    return text;
}

} // namespace cleavix::sampler::scsi
