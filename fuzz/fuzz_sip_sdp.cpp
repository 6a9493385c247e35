// Anything a far end offers as a session description: decoded against the formats a line
// offers, the choice of formats made, and the answer encoded, as the stack does for an INVITE.
#include "platform/telephony/sip/SipSdp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <re.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const int init = libre_init();
    (void)init;
    sa local{};
    (void)sa_set_str(&local, "127.0.0.1", 5060);
    sdp_session *session = nullptr;
    sdp_media *audio = nullptr;
    mbuf *offer = mbuf_alloc(size + 1);
    if (!offer || sdp_session_alloc(&session, &local) != 0 || sdp_media_add(&audio, session, "audio", 16384, "RTP/AVP") != 0
        || telvox::sip::addOurFormats(audio, true) != 0)
        std::abort();
    (void)mbuf_write_mem(offer, data, size);
    offer->pos = 0;
    if (sdp_decode(session, offer, true) == 0) {
        const telvox::sip::MediaChoice choice = telvox::sip::chooseMedia(audio);
        if (choice.pt != -1 && choice.pt != 0 && choice.pt != 8 && choice.pt != 9)
            std::abort();
        mbuf *answer = nullptr;
        if (sdp_encode(&answer, session, false) == 0)
            mem_deref(answer);
    }
    mem_deref(offer);
    mem_deref(session);
    return 0;
}
