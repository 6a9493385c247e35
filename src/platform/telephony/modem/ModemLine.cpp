// The voice-modem line: construction, status lines and the serial port (opening it, getting a
// modem left in a call back to command state, reading and writing, losing it). The command
// queue, the modem's events, the calls and the audio live in ModemLine*.cpp beside this file.

#include "platform/telephony/modem/ModemLine.h"

#include "core/EventLoop.h"
#include "platform/telephony/modem/ModemAudio.h"

#include <QSerialPort>

#include <algorithm>
#include <utility>

namespace telvox::modem {

namespace {

// Bytes that arrive while the modem is being stopped at open: more than a stray result line
// means it was streaming voice data.
constexpr qsizetype kStreamingEvidenceBytes = 32;
constexpr int kRecoveryAttempts = 3;

} // namespace

ModemLine::ModemLine(EventLoop &loop, int index, QString portName, PortOpener opener, LineOptions options)
    : m_loop(loop)
    , m_index(index)
    , m_portName(std::move(portName))
    , m_opener(std::move(opener))
    , m_options(std::move(options))
    , m_profile(&genericProfile())
{
    if (!m_options.forcedProfile.isEmpty()) {
        if (const ModemProfile *p = profileById(m_options.forcedProfile))
            m_profile = p;
    }
    m_dle.setHandlers([this](const char *d, qsizetype n) { handleData(d, n); }, [this](char c) { handleEvent(c); });
    m_commandTimer = m_loop.createTimer(m_options.commandTimeoutMs, [this] { commandTimedOut(); });
    m_reopenTimer = m_loop.createTimer(m_options.reopenIntervalMs, [this] {
        if (m_portState == PortState::Closed)
            openPort();
    });
    m_tickTimer = m_loop.createTimer(m_options.tickMs, [this] { tick(); });
    m_keepAliveTimer = m_loop.createTimer(m_options.keepAliveMs, [this] {
        const bool idle = m_portState == PortState::Ready && !m_current && m_queue.empty()
            && m_mode == DataMode::Command && !m_offHook && !m_answering && !m_hangingUp
            && (m_slot.hCall == 0 || m_slot.callState == LineCallState::Idle);
        if (idle) {
            queue("AT", [this](const QByteArray &, const QList<QByteArray> &) {
                // The command came back as an echo: the echo was switched off at start, so the
                // modem has reset itself and forgotten its setup (caller ID among it).
                if (!m_echoSeen || m_portState != PortState::Ready)
                    return;
                m_echoSeen = false;
                status(notice::kResetItself, {m_portName});
                m_portReported = true; // "ready" again once it is set up
                m_portState = PortState::Initialising;
                initialise();
            });
            pump();
        }
    });
    m_keepAliveTimer->setEnabled(m_options.keepAliveMs > 0);
    m_cidTimer = m_loop.createTimer(m_options.callerIdQuietMs, [this] { flushCallerId(); });
    m_recoverTimer = m_loop.createTimer(m_options.recoveryWaitMs, [this] { recoveryStep(); });
    m_rxWatchTimer = m_loop.createTimer(500, [this] { receiveWatch(); });
    m_leftReceiveTimer = m_loop.createTimer(m_options.leftReceiveOkMs, [this] {
        m_leftReceiveTimer->setEnabled(false);
        if (m_awaitingLeftOk)
            resumeReceive();
    });
    m_graceTimer = m_loop.createTimer(m_options.ringGraceMs, [this] { ringingStopped(); });
}

ModemLine::~ModemLine()
{
    *m_alive = false;
    if (m_in)
        m_in->lineGone();
    if (m_out)
        m_out->lineGone();
    if (m_device) {
        QObject::disconnect(m_device.get(), nullptr, &m_context, nullptr);
        if (m_offHook || m_hangingUp || m_answering) {
            // Last resort when the program ends in a call: out of any voice data state, on-hook.
            m_device->write(dleCode('!') + dleCode(kCan) + dleCode(kEtx) + "\rATH0\r");
            m_device->waitForBytesWritten(200);
        }
    }
}

void ModemLine::start() { openPort(); }

QByteArray ModemLine::lineName() const
{
    if (!m_name.isEmpty())
        return m_name;
    return "Voice modem on " + m_portName.toLocal8Bit();
}

std::uint32_t ModemLine::mediaModes() const
{
    // Until the modem has answered once it is taken for a voice modem, so that a line whose
    // modem is plugged in later still opens.
    if (!m_identifiedOnce || m_voice)
        return MediaMode::DataModem | MediaMode::InteractiveVoice | MediaMode::AutomatedVoice;
    return MediaMode::DataModem;
}

void ModemLine::status(int text, QStringList args)
{
    status(ModemNotice{text, std::move(args), m_index});
}

void ModemLine::status(ModemNotice notice)
{
    notice.line = m_index;
    if (m_status)
        m_status(notice);
}

// --- port ------------------------------------------------------------------------------------

void ModemLine::openPort()
{
    PortOpenError error;
    std::unique_ptr<QIODevice> device = m_opener ? m_opener(error) : nullptr;
    if (!device) {
        if (!m_portReported) {
            status(error.notice.isEmpty() ? ModemNotice{notice::kCannotOpen, {m_portName}} : error.notice);
            m_portReported = true;
        }
        // No point in knocking often at a port this account may not open.
        m_reopenTimer->setInterval(error.permanent ? m_options.reopenIntervalMs * 5 : m_options.reopenIntervalMs);
        m_reopenTimer->setEnabled(true);
        return;
    }
    m_reopenTimer->setEnabled(false);
    m_device = std::move(device);
    QObject::connect(m_device.get(), &QIODevice::readyRead, &m_context, [this] { onReadyRead(); });
    QObject::connect(m_device.get(), &QIODevice::readChannelFinished, &m_context,
                     [this] { portLost(notice::kGone, true); });
    if (auto *serial = qobject_cast<QSerialPort *>(m_device.get())) {
        QObject::connect(serial, &QSerialPort::errorOccurred, &m_context, [this](QSerialPort::SerialPortError e) {
            // A tty whose device went away reads as a resource error, or as end of file.
            if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
                portLost(notice::kUnplugged, true);
        });
    }
    m_mode = DataMode::Command;
    m_dle.reset();
    m_lineBuffer.clear();
    m_echoSeen = false;
    m_portState = PortState::Initialising;
    beginRecovery(0);
}

void ModemLine::beginRecovery(int attempt)
{
    m_recoverAttempt = attempt;
    m_recoverStage = 0;
    m_discarding = true;
    if (attempt == 0)
        m_discardedBytes = 0;
    // With DTR dropped a modem set up as usual (&D2) hangs up and returns to command state.
    if (auto *serial = qobject_cast<QSerialPort *>(m_device.get()))
        serial->setDataTerminalReady(false);
    m_recoverTimer->setInterval(m_options.recoveryWaitMs);
    m_recoverTimer->setEnabled(true);
}

void ModemLine::recoveryStep()
{
    if (m_portState != PortState::Initialising || !m_device) {
        m_recoverTimer->setEnabled(false);
        m_discarding = false;
        return;
    }
    if (m_recoverStage == 0) {
        if (auto *serial = qobject_cast<QSerialPort *>(m_device.get()))
            serial->setDataTerminalReady(true);
        // Whatever voice data state it is in ends on one of these: transmit (cleared, then
        // ended), receive (aborted) and duplex. In command state they are ignored.
        write(dleCode(kCan) + dleCode(kEtx) + dleCode('!') + dleCode('^'));
        m_recoverStage = 1;
        return;
    }
    // The end of the stream and the result line it brought have been thrown away.
    m_recoverTimer->setEnabled(false);
    m_discarding = false;
    m_dle.reset();
    m_lineBuffer.clear();
    m_mode = DataMode::Command;
    const int attempt = m_recoverAttempt;
    Command probe = makeCommand("AT", [this, attempt](const QByteArray &, const QList<QByteArray> &) {
        // OK or ERROR: either way the modem reads commands again.
        const bool wasStreaming = m_discardedBytes >= kStreamingEvidenceBytes;
        if (wasStreaming)
            status(notice::kLeftInCall, {m_portName});
        else if (attempt > 0)
            status(notice::kRecoveredByReset, {m_portName});
        initialise(wasStreaming || attempt > 0);
    }, 0);
    probe.onTimeout = [this, attempt] {
        if (attempt + 1 < kRecoveryAttempts)
            beginRecovery(attempt + 1);
        else
            resetPort();
    };
    m_queue.push_front(std::move(probe));
    pump();
}

void ModemLine::closePort()
{
    ++m_epoch;
    m_commandTimer->setEnabled(false);
    m_queue.clear();
    m_current.reset();
    m_info.clear();
    m_resyncing = false;
    m_mode = DataMode::Command;
    m_portState = PortState::Closed;
    m_offHook = false;
    m_hangingUp = false;
    m_discarding = false;
    m_recoverTimer->setEnabled(false);
    m_receiveLeft = false;
    m_awaitingLeftOk = false;
    m_leftReceiveTimer->setEnabled(false);
    if (!m_layoutProbe.isEmpty())
        settleLayout();
    if (m_device) {
        // The device may be the sender of the signal that brought us here: it goes later.
        QIODevice *device = m_device.release();
        QObject::disconnect(device, nullptr, &m_context, nullptr);
        device->close();
        m_loop.post([device] { delete device; });
    }
    updateTick();
}

void ModemLine::portLost(int why, bool unplugged)
{
    if (m_portState == PortState::Closed)
        return;
    if (!m_portReported) {
        status(why, {m_portName});
        m_portReported = true;
    }
    endCallOnFault();
    closePort();
    if (unplugged)
        m_reopenTimer->setEnabled(true);
    else
        openPort();
}

void ModemLine::write(const QByteArray &bytes)
{
    if (!m_device)
        return;
    if (m_trace)
        m_trace(false, bytes);
    if (m_device->write(bytes) < 0)
        m_loop.post([this, alive = m_alive, epoch = m_epoch] {
            if (*alive && epoch == m_epoch)
                portLost(notice::kCannotWrite, true);
        });
}

void ModemLine::onReadyRead()
{
    if (!m_device)
        return;
    const QByteArray bytes = m_device->readAll();
    if (bytes.isEmpty())
        return;
    if (m_trace)
        m_trace(true, bytes);
    if (m_discarding) {
        m_discardedBytes += bytes.size();
        return;
    }
    m_dle.feed(bytes);
}

} // namespace telvox::modem
