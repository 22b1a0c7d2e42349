#pragma once
// SCSI commands as data: the 6-byte CDBs the sampler drivers use, the standard INQUIRY answer, and
// the lines device listings show. Pure functions, no threads.
#include "sampler/scsi/ScsiLayer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cleavix::sampler::scsi {

namespace op {
inline constexpr uint8_t kTestUnitReady = 0x00;
inline constexpr uint8_t kRequestSense = 0x03;
inline constexpr uint8_t kReceive = 0x08;
inline constexpr uint8_t kSend = 0x0A;
inline constexpr uint8_t kInquiry = 0x12;
} // namespace op

// Sense keys used by the virtual devices and the messages.
namespace sense_key {
inline constexpr uint8_t kNoSense = 0x0;
inline constexpr uint8_t kNotReady = 0x2;
inline constexpr uint8_t kMediumError = 0x3;
inline constexpr uint8_t kHardwareError = 0x4;
inline constexpr uint8_t kIllegalRequest = 0x5;
inline constexpr uint8_t kUnitAttention = 0x6;
inline constexpr uint8_t kAbortedCommand = 0xB;
} // namespace sense_key

// The largest transfer a 6-byte CDB can name (24 bits).
inline constexpr uint32_t kMaxTransfer24 = 0xFFFFFF;
inline constexpr uint32_t kInquiryLength = 96;
inline constexpr uint8_t kProcessorDevice = 3; // how SMDI samplers report themselves

// operation code, 0, transfer length as 24 bits most significant byte first, 0. A length beyond
// 24 bits gives nullopt rather than a truncated CDB.
std::optional<Cdb> makeCdb(uint8_t operationCode, uint32_t transferLength);
// INQUIRY: the allocation length goes in byte 4 (at most 255).
Cdb inquiryCdb(uint8_t allocationLength = kInquiryLength);
Cdb testUnitReadyCdb();

// Fixed-format sense data (response code 0x70) with the key, ASC and ASCQ.
Sense fixedSense(uint8_t senseKey, uint8_t asc, uint8_t ascq = 0);
// The sense key of fixed or descriptor-format sense, if there is one in `length` bytes.
std::optional<uint8_t> senseKeyOf(const Sense& sense, uint8_t length);

struct InquiryData {
    uint8_t peripheralType = 0x1F; // byte 0, low 5 bits
    uint8_t qualifier = 0;         // byte 0, high 3 bits (3: no device at this LUN)
    std::string vendor;            // bytes 8..15, trailing blanks removed
    std::string product;           // bytes 16..31
    std::string revision;          // bytes 32..35
};
// Reads an answer only as far as `transferred` bytes (and the answer's own additional length)
// reach; fields beyond them are empty. nullopt when not even byte 0 came, or the qualifier says
// no device is there.
std::optional<InquiryData> parseInquiry(std::span<const uint8_t> answer);
// A standard INQUIRY answer of `length` bytes (at least 36) for a device of `type`.
std::vector<uint8_t> buildInquiry(uint8_t type, const std::string& vendor, const std::string& product,
                                  const std::string& revision, uint32_t length = kInquiryLength);

// "ID:" + number + " " + identifier.
std::string adaptorLine(const Adaptor& adaptor);
// "ID:" + target + " " + vendor + " " + product + " " + revision [+ " (*)" for a processor device],
// or "ID:" + target + " No Device Found" when it did not answer.
std::string deviceLine(uint8_t target, const std::optional<InquiryData>& inquiry);

inline constexpr const char* kCommunicationError = "An error occurred during communication with the sampler";
// The message for a failed exchange: the communication error, and when the SCSI device may not be
// opened (EACCES, EPERM) a pointer to the user guide's section on device permissions.
std::string communicationErrorText(const Completion& completion);

// A short text for a failed completion (time-out, host status, target status, sense key).
std::string describeFailure(const Completion& completion);

} // namespace cleavix::sampler::scsi
