// Any datagram a raw or unprivileged ICMP socket may hand over, with and without the IPv4
// header in front: the parser reads only inside it, and a reply it accepts round-trips
// through a request stamped with the same fields.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/icmp_packet.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qv;
    // An exact-size copy, so that any read past the end is caught.
    std::vector<uint8_t> datagram(data, data + size);
    for (bool hasIpHeader : {false, true}) {
        std::optional<EchoReply> reply =
            ParseEchoReply(datagram.data(), datagram.size(), hasIpHeader);
        if (!reply) {
            continue;
        }
        uint8_t packet[kEchoRequestSize];
        PrepareEchoRequest(packet);
        StampEchoRequest(packet, reply->identifier, reply->sequence, reply->tick);
        if (InternetChecksum(packet, sizeof packet) != 0) {
            fuzz::Finding("a stamped request does not sum to 0", "", "");
        }
        packet[0] = 0;  // an echo reply carries the request's fields back
        std::optional<EchoReply> again = ParseEchoReply(packet, sizeof packet, false);
        if (!again || again->identifier != reply->identifier ||
            again->sequence != reply->sequence || again->tick != reply->tick) {
            fuzz::Finding("echo reply fields do not round-trip", "", "");
        }
    }
    return 0;
}
