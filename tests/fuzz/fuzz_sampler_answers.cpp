// What a sampler sends back: the sample dump header, packets and handshakes, the SMDI messages
// and the Akai answers. Each parser sees the same bytes, and whatever one takes must lie inside them.
#include "FuzzTarget.h"
#include "sampler/akai/AkaiCodec.h"
#include "sampler/sds/SdsCodec.h"
#include "sampler/smdi/SmdiCodec.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace sds = cleavix::sampler::sds;
    namespace smdi = cleavix::sampler::smdi;
    namespace akai = cleavix::sampler::akai;
    sds::decodeHeader(data, size);
    sds::decodeHandshake(data, size);
    for (size_t samples : {size_t(0), size_t(1), size_t(40)}) {
        sds::checkPacket(data, size, samples);
    }
    const std::span<const uint8_t> answer(data, size);
    smdi::parseHeader(answer);
    smdi::parseSendNextPacket(answer);
    smdi::parseBeginTransferAck(answer);
    if (const auto packet = smdi::parseDataPacket(answer)) {
        if (packet->data.data() < data || packet->data.data() + packet->data.size() > data + size) {
            __builtin_trap(); // a packet's data is part of what came
        }
    }
    if (const auto header = smdi::parseSampleHeader(answer)) {
        smdi::checkReceivedHeader(*header);
    }
    akai::parseFreeMemory(answer);
    akai::parseCount(answer);
    akai::parseSampleHeader(answer);
    akai::parseHandshake(answer);
    akai::parseWriteResult(answer);
    akai::parsePendingLength(answer);
    return 0;
}
