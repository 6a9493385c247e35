#include "platform/telephony/sip/SipSdp.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <re.h>
#include <rem.h>

namespace telvox::sip {

int addOurFormats(sdp_media *audio, bool telephoneEvents)
{
    int err = sdp_format_add(nullptr, audio, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    if (!err)
        err = sdp_format_add(nullptr, audio, false, "8", "PCMA", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    // G.722's RTP clock is 8000 Hz though it samples at 16000 (RFC 3551, 4.5.2).
    if (!err)
        err = sdp_format_add(nullptr, audio, false, "9", "G722", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    if (!err && telephoneEvents)
        err = sdp_format_add(nullptr, audio, false, "101", telev_rtpfmt, 8000, 1, nullptr, nullptr, nullptr, false,
                             "0-15");
    if (!err)
        err = sdp_media_set_lattr(audio, true, "ptime", "%d", 20);
    return err;
}

MediaChoice chooseMedia(const sdp_media *audio)
{
    MediaChoice c;
    if (!audio)
        return c;
    // The far end's first format that is ours (its order is its preference); libre marks the
    // formats both sides have.
    static const char *const kNames[] = {nullptr, "PCMU", "PCMA", "G722"};
    for (const char *name : kNames) {
        const sdp_format *f = sdp_media_rformat(audio, name);
        if (!f || !f->name)
            continue;
        if (str_casecmp(f->name, "PCMU") == 0)
            c.pt = 0;
        else if (str_casecmp(f->name, "PCMA") == 0)
            c.pt = 8;
        else if (str_casecmp(f->name, "G722") == 0)
            c.pt = 9;
        if (c.pt >= 0)
            break;
    }
    if (const sdp_format *te = sdp_media_rformat(audio, "telephone-event"))
        c.televPt = te->pt;
    c.remote = sdp_media_raddr(audio);
    return c;
}

} // namespace telvox::sip
