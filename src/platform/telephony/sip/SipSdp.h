#pragma once

// The session descriptions of a SIP line's calls (libre's SDP): the formats we offer and
// answer with, and the choice among what the far end offers. Shared by the stack's thread and
// the SDP fuzzing harness; no state of its own.
struct sdp_media;
struct sa;

namespace telvox::sip {

// What we send and where, from the far end's description of its audio.
struct MediaChoice
{
    int pt = -1;      // 0 PCMU, 8 PCMA or 9 G722; -1: nothing we can send
    int televPt = -1; // its telephone-event payload type; -1: none
    const sa *remote = nullptr; // its media address (owned by the media description)
};

// Our audio formats (PCMU, PCMA, G722, and RFC 4733 events when `telephoneEvents`), 20 ms frames.
// Returns 0 or an error number.
int addOurFormats(sdp_media *audio, bool telephoneEvents);

// The far end's formats: the first of its list that is PCMU, PCMA or G722, and its telephone
// events. Safe on any description libre decoded.
MediaChoice chooseMedia(const sdp_media *audio);

} // namespace telvox::sip
