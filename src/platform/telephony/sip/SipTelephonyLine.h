#pragma once

// A SIP line as SipTelephony keeps it, shared by its source files (SipTelephony.cpp: the line
// functions and the stack's events; SipTelephonyNews.cpp: what the user is told).
#include "core/EventLoop.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QDateTime>

#include <memory>
#include <optional>

namespace telvox::sip {

struct SipTelephony::Line : CallSlot
{
    int index = 0; // the stack's number of the line (its device id)
    SipLineConfig config;
    std::uint64_t sipCall = 0; // the stack's number of the call
    bool answering = false;
    std::unique_ptr<Timer> ringTimer;
    // A call that arrived while the call flow was still letting go of the previous one: it
    // rings at the caller's end and is offered once the line is free.
    std::optional<StackEvent> waiting;
    // Registration: never tried, registered, or failing (with the reason last told).
    enum class Reg { Unknown, Registered, Failing } reg = Reg::Unknown;
    bool everRegistered = false;
    QString lastFailure;
    QDateTime lastRefresh; // of the registration, when the registrar last accepted it
};

inline SipTelephony::Line &SipTelephony::lineOf(CallSlot &slot) { return static_cast<Line &>(slot); }

} // namespace telvox::sip
