#pragma once

#include "platform/telephony/sip/SipTelephony.h"

#include <vector>

namespace telvox {
class SettingsStore;
}

namespace telvox::sip {

// The SIP lines as the settings store keeps them (section "SIP", keys per line n = 0 .. 3):
//   Line<n>Registrar    the registrar of an account ("fritz.box", "sip.example.net:5060");
//                       empty: no registration
//   Line<n>Listen       the listening address "host:port" (callers dial sip:<user>@host:port);
//                       on an account line optional (default: the local address of the route
//                       to the registrar, port 5060 + n when free). Line n is a SIP line when it
//                       has either
//   Line<n>AllowFrom    a line without a registrar: the hosts and networks that may call it
//                       ("192.168.1.0/24 ::1"); empty: loopback only. Others get 403.
//   Line<n>User         the user (the account's user name; default "telvox")
//   Line<n>AuthUser     the name to authenticate with, when it differs from the user
//   Line<n>Password     the account's password (the store is kept readable by its owner only)
//   Line<n>Proxy        an outbound proxy ("proxy.example.net"); empty: none
//   Line<n>Transport    "udp" (default), "tcp" or "tls"
//   Line<n>Certificate  TLS: a PEM file with the line's certificate and private key (needed
//                       to listen for TLS callers; an account line reaching a registrar needs none)
//   Line<n>CaFile       TLS: a PEM file of the certificate authorities trusted for the far end
//   Line<n>Srtp         encrypted media (SRTP, keys in the session description): "off";
//                       "offered" (default: taken when a caller offers it; our calls offer
//                       a key under RTP/AVP, plain if the far end takes none); "required"
//                       (our calls use RTP/SAVP, calls without it are refused with 488)
//   Line<n>Expires      registration interval in seconds (default 600)
//   Line<n>RingCadence  ring on/off in milliseconds, "2000/4000" by default: one ring is
//                       counted at the start of each period while the INVITE is unanswered
//   Line<n>JitterMs     receive delay absorbing network jitter (default 60)
//   Line<n>TelephoneEvents  "0": touch tones in the audio only, no RFC 4733 events offered
inline constexpr const char *kSipSection = "SIP";

std::vector<SipLineConfig> readSipConfig(const SettingsStore &store);

} // namespace telvox::sip
