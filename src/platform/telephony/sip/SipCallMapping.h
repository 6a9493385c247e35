#pragma once

#include <QByteArray>

#include <cstdint>
#include <string_view>

struct sip_msg;

namespace telvox::sip {

// Who is calling, as the line events report it.
struct CallerIdentity
{
    QByteArray number;     // digits, "+", "*", "#", letters, ".", "-", "_" only (used in file names)
    QByteArray name;       // the display name, unquoted (UTF-8 as sent, never cut inside a character)
    bool withheld = false; // anonymous caller
};

// The caller of an INVITE: the P-Asserted-Identity when the network asserts one, else From.
CallerIdentity callerOf(const sip_msg &invite);
// One address with or without a display name ("\"Anna\" <sip:+4930123@host>;tag=1", "tel:+4930123").
CallerIdentity callerFromAddress(std::string_view address);

// What a SIP message means for the call on a line (the line event it leads to).
enum class SipSignal {
    None,         // nothing for the line (unrelated, or not understood)
    Invite,       // a new call is offered
    Ringing,      // 180 / 183 to our own INVITE
    Answered,     // 2xx to our own INVITE
    Ack,          // the far end confirms our 200 OK
    Bye,          // the far end hangs up
    Cancel,       // the caller gives up, or another phone took the call
    Rejected,     // a final failure to our own INVITE (486, 603, ...)
};
SipSignal signalOf(const sip_msg &msg);

// Whether a CANCEL says the call was completed elsewhere (RFC 3326 "Reason: SIP;cause=200"):
// another phone of the group took it.
bool completedElsewhere(const sip_msg &cancel);

// Parses raw bytes as one SIP message and maps it; SipSignal::None for what does not parse.
// (The stack feeds this the messages it receives; the fuzz test feeds it anything.)
struct MappedMessage
{
    bool parsed = false;
    SipSignal signal = SipSignal::None;
    CallerIdentity caller; // for an INVITE
    QByteArray callId;
    bool completedElsewhere = false; // for a CANCEL
};
MappedMessage mapRawMessage(const QByteArray &bytes);

} // namespace telvox::sip
