#pragma once
// How the emulated sample dump sampler can be told to misbehave: a comma-separated list, from
// CLEAVIX_VIRTUAL_FAULTS or the command line's --fault. K is a packet index (0 for the first data
// packet) or "header".
//
// While receiving a dump:
//   nak:K        NAK packet K once;  nak:KxN  N times;  nak:all  every packet, always
//   wait:K       WAIT after packet K, then ACK after 1 s;  wait:K@MS after MS ms;  wait:K@never
//   cancel:K     CANCEL instead of answering packet K
//   silence      answer nothing at all (and send no dumps)
//   dupack:K     ACK packet K twice
//   wrongack:K   ACK packet K with the next packet's number instead
//   lateack:K@MS ACK packet K only after MS ms
// While sending its own dump (after a Dump Request):
//   badsum:K     packet K with a wrong checksum (the first time it is sent)
//   repeat:K     packet K sent twice
//   skip:K       packet K left out
//   short:K      packet K cut to 100 bytes (the first time)
//   nof7:K       packet K without its closing F7 (the first time)
//   garbage      a foreign system-exclusive message before every packet
//   filler       the last packet's filler bytes non-zero (checksum over all 120 bytes)
//   extra        two packets more than the header's length
//   bits:N       the header says N bits (8 or 24) and the packets are sent as 16-bit anyway
//   period0      the header's sample period is 0
//   length0      the header's length is 0
//   channel:N    the dump goes out on channel byte N
//   realtime     timing-clock and active-sensing bytes inside every message
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace cleavix::sampler::virt {

inline constexpr int kHeader = -1; // K for the Dump Header

struct SdsFaults {
    std::map<int, int> nak; // K -> times (-1: always)
    bool nakAll = false;
    std::map<int, int> wait; // K -> ms before the ACK (-1: never)
    std::optional<int> cancel;
    bool silence = false;
    std::optional<int> dupAck;
    std::optional<int> wrongAck;
    std::map<int, int> lateAck; // K -> ms
    std::optional<int> badSum;
    std::optional<int> repeat;
    std::optional<int> skip;
    std::optional<int> shortPacket;
    std::optional<int> noF7;
    bool garbage = false;
    bool filler = false;
    bool extra = false;
    std::optional<int> bits;
    bool period0 = false;
    bool length0 = false;
    std::optional<int> channel;
    bool realTime = false;
};

// Throws std::invalid_argument naming the item it does not understand.
SdsFaults parseSdsFaults(const std::string& list);

} // namespace cleavix::sampler::virt
