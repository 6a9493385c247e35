#include "sim/exchange/VirtualLine.h"

#include <algorithm>

// The virtual exchange as the line service: construction, the events it posts and the line
// functions the system calls. The far ends are in VirtualExchangeFarEnd.cpp, the audio in
// VirtualLineAudio.cpp.

namespace telvox {

using namespace virtual_line;

VirtualExchange::VirtualExchange(EventLoop &loop, ExchangeSetup setup)
    : CallTableService(loop, 0x00A70001)
    , m_loop(loop)
    , m_setup(std::move(setup))
    , m_paced(loop)
{
    for (const VirtualDevice &device : m_setup.devices) {
        auto line = std::make_unique<Line>();
        line->setup = device;
        Line *l = line.get();
        line->ringTimer = m_loop.createTimer(6000, [this, l] { ringTick(*l); });
        line->callerIdTimer = m_loop.createTimer(500, [this, l] {
            l->callerIdTimer->setEnabled(false);
            postCallerId(*l);
        });
        line->digitTimer = m_loop.createTimer(kDigitSpacingMs, [this, l] { digitTick(*l); });
        line->outgoingTimer = m_loop.createTimer(1000, [this, l] { outgoingTick(*l); });
        line->generateTimer = m_loop.createTimer(100, [this, l] {
            l->generateTimer->setEnabled(false);
            l->generating = false;
            table().post(*l, l->hCall, LINE_GENERATE, kGenerateTermDone, 0, 0);
        });
        table().add(*l);
        m_lines.push_back(std::move(line));
    }
    // Wave devices for at least four lines, so that the ids of a line the exchange does not
    // have still open (as silence).
    const int waveLines = std::max(deviceCount(), 4);
    for (int n = 0; n < waveLines; ++n) {
        const auto in = kWaveInBase + static_cast<std::uint32_t>(n);
        const auto out = kWaveOutBase + static_cast<std::uint32_t>(n);
        m_paced.addInput(static_cast<int>(in), [this, in](std::span<std::int16_t> samples) {
            if (LineAudioChannel *channel = audioChannel(in))
                channel->readFromLine(samples);
            else
                std::fill(samples.begin(), samples.end(), std::int16_t(0));
        });
        m_paced.addOutput(static_cast<int>(out), [this, out](std::span<const std::int16_t> samples) {
            const std::size_t index = out - kWaveOutBase;
            if (index < m_lines.size())
                m_lines[index]->audio.nowMs = m_loop.now();
            if (LineAudioChannel *channel = audioChannel(out))
                channel->writeToLine(samples);
        });
    }
}

VirtualExchange::~VirtualExchange() = default;

// --- helpers ---------------------------------------------------------------------------------

void VirtualExchange::postCallerId(Line &line)
{
    if (line.hCall == 0 || !line.incoming)
        return;
    line.callerNumber = line.call.number;
    line.callerName = line.call.name;
    line.callerIdFlags = 0;
    if (!line.callerNumber.isEmpty())
        line.callerIdFlags |= CallPartyId::Address;
    if (!line.callerName.isEmpty())
        line.callerIdFlags |= CallPartyId::Name;
    if (line.callerIdFlags == 0)
        line.callerIdFlags = line.call.withheld ? CallPartyId::Blocked : CallPartyId::Unavail;
    trace(line, QStringLiteral("caller ID ") + QString::fromLatin1(line.callerNumber.toPercentEncoding(" ")));
    table().post(line, line.hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
}

void VirtualExchange::stopRinging(Line &line)
{
    line.ringing = false;
    line.ringTimer->setEnabled(false);
    line.callerIdTimer->setEnabled(false);
}

void VirtualExchange::endCall(Line &line)
{
    stopRinging(line);
    line.digitTimer->setEnabled(false);
    line.outgoingTimer->setEnabled(false);
    line.generateTimer->setEnabled(false);
    line.generating = false;
    line.farDigitQueue.clear();
    line.monitoring = false;
    line.audio.carrying = false;
    line.audio.exchangeTone.reset();
    line.audio.farDigits.clear();
}

void VirtualExchange::changed(const Line &line)
{
    if (m_changed)
        m_changed(indexOf(line));
}

void VirtualExchange::trace(const Line &line, const QString &what)
{
    if (m_trace)
        m_trace(QStringLiteral("Line%1: ").arg(indexOf(line)) + what);
}

// --- the line functions: what the exchange does beyond the table's checks -----------------

std::uint32_t VirtualExchange::maxApiVersion(const CallSlot &slot) const { return lineOf(slot).setup.maxApiVersion; }

std::uint32_t VirtualExchange::offeredModes(const CallSlot &slot) const { return lineOf(slot).setup.mediaModes; }

std::int32_t VirtualExchange::negotiateRefusal(const CallSlot &slot) const
{
    return lineOf(slot).setup.negotiateResult;
}

std::int32_t VirtualExchange::describe(const CallSlot &slot, LineDevCaps &caps)
{
    const VirtualDevice &device = lineOf(slot).setup;
    if (device.devCapsResult != 0)
        return device.devCapsResult;
    caps.lineName = device.name;
    caps.mediaModes = device.mediaModes;
    return 0;
}

std::int32_t VirtualExchange::openRefusal(const CallSlot &slot) const { return lineOf(slot).setup.openResult; }

void VirtualExchange::lineOpened(CallSlot &slot) { changed(lineOf(slot)); }

std::int32_t VirtualExchange::statusMessagesRefusal(const CallSlot &slot) const
{
    return lineOf(slot).setup.statusMessagesResult;
}

std::int32_t VirtualExchange::answerCall(CallSlot &slot)
{
    Line &l = lineOf(slot);
    if (!l.incoming || (l.callState != LineCallState::Offering && l.callState != LineCallState::Accepted))
        return LineErr::InvalCallState;
    const std::int32_t request = table().nextRequest();
    stopRinging(l);
    l.audio.carrying = true;
    if (!l.farEndGone)
        l.audio.farEnd = l.call.speech;
    trace(l, QStringLiteral("answered by the system"));
    table().reply(l, request);
    table().setState(l, LineCallState::Connected);
    changed(l);
    return request;
}

std::int32_t VirtualExchange::dropCall(CallSlot &slot)
{
    Line &l = lineOf(slot);
    const std::int32_t request = table().nextRequest();
    table().cancelDigits(l);
    endCall(l);
    trace(l, QStringLiteral("dropped by the system"));
    table().reply(l, request);
    table().setState(l, LineCallState::Idle);
    changed(l);
    return request;
}

std::int32_t VirtualExchange::sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs)
{
    Line &l = lineOf(slot);
    table().cancelDigits(l);
    const int onMs = durationMs == 0 ? kDefaultDigitMs : static_cast<int>(std::min<std::uint32_t>(durationMs, 5000));
    std::vector<std::int16_t> tones;
    for (const QChar key : digits)
        appendDtmf(tones, key, onMs, kInterDigitMs);
    l.audio.hear(tones);
    l.digitsHeard += digits;
    l.generating = true;
    l.generateTimer->setInterval(static_cast<int>(digits.size()) * (onMs + kInterDigitMs));
    l.generateTimer->setEnabled(true);
    trace(l, QStringLiteral("the system sends touch tones ") + digits);
    changed(l);
    return 0;
}

void VirtualExchange::callFreed(CallSlot &slot)
{
    Line &l = lineOf(slot);
    l.handsetOffHook = false;
    l.farEndGone = false;
    changed(l);
}

std::uint32_t VirtualExchange::waveDeviceId(const CallSlot &slot, LineApplication::WaveClass waveClass) const
{
    return (waveClass == LineApplication::WaveClass::In ? kWaveInBase : kWaveOutBase) + slot.device;
}

std::int32_t VirtualExchange::placeCall(CallSlot &slot, const QString &destAddress, HCall &call)
{
    Line &l = lineOf(slot);
    if (destAddress.trimmed().isEmpty())
        return LineErr::InvalAddress;
    endCall(l);
    const std::int32_t request = table().nextRequest();
    call = table().newCall(l, false);
    l.handsetOffHook = false;
    l.farEndGone = false;
    l.dialled = destAddress;
    l.digitsHeard.clear();
    l.outgoingPhase = 0;
    l.audio.carrying = true;
    l.audio.farEnd.reset();
    trace(l, QStringLiteral("the system dials ") + destAddress);
    table().reply(l, request);
    table().setState(l, LineCallState::Dialing);
    // Dialling takes a second plus a tenth per digit; then the modem reports the connection.
    l.outgoingTimer->setInterval(1000 + 100 * static_cast<int>(destAddress.size()));
    l.outgoingTimer->setEnabled(true);
    changed(l);
    return request;
}

void VirtualExchange::closing(CallSlot &slot) { endCall(lineOf(slot)); }

void VirtualExchange::lineClosed(CallSlot &slot) { changed(lineOf(slot)); }

} // namespace telvox
