#include "platform/telephony/modem/ModemLine.h"

#include "core/EventLoop.h"
#include "platform/telephony/modem/ModemAudio.h"

#include <QSerialPort>

#include <algorithm>
#include <utility>

namespace telvox::modem {

namespace {

constexpr int kSamplesPerMs = 8;
// Bytes that arrive while the modem is being stopped at open: more than a stray result line
// means it was streaming voice data.
constexpr qsizetype kStreamingEvidenceBytes = 32;
constexpr int kRecoveryAttempts = 3;

bool accepted(const QByteArray &result) { return result == "OK" || result == "VCON"; }

// Noise on the serial line in front of a reply: everything up to the first printable byte.
QByteArray withoutNoise(const QByteArray &line)
{
    qsizetype start = 0;
    while (start < line.size()) {
        const auto c = static_cast<unsigned char>(line[start]);
        if (c > 0x20 && c < 0x7F)
            break;
        ++start;
    }
    qsizetype end = line.size();
    while (end > start && static_cast<unsigned char>(line[end - 1]) <= 0x20)
        --end;
    return line.mid(start, end - start);
}

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
            && (m_hCall == 0 || m_callState == LineCallState::Idle);
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
    m_lastRxAt = m_loop.now();
    if (m_discarding) {
        m_discardedBytes += bytes.size();
        return;
    }
    m_dle.feed(bytes);
}

void ModemLine::handleData(const char *data, qsizetype size)
{
    qsizetype i = 0;
    while (i < size) {
        if (m_portState == PortState::Closed)
            return;
        if (m_mode == DataMode::Receive) {
            deliverReceived(data + i, size - i);
            return;
        }
        const char c = data[i++];
        if (c == '\n') {
            const QByteArray line = withoutNoise(m_lineBuffer);
            m_lineBuffer.clear();
            if (!line.isEmpty())
                handleLine(line);
        } else if (m_lineBuffer.size() < 4096) {
            m_lineBuffer.append(c);
        }
    }
}

bool ModemLine::isFinalResult(const QByteArray &line) const
{
    static const char *const results[] = {"OK",          "ERROR",      "CONNECT",   "VCON",     "NO CARRIER",
                                          "BUSY",        "NO DIALTONE", "NO DIAL TONE", "NO ANSWER"};
    for (const char *r : results) {
        if (line == r)
            return true;
    }
    return line.startsWith("+CME ERROR") || line.startsWith("CONNECT ");
}

void ModemLine::handleLine(const QByteArray &line)
{
    if (line.startsWith("AT") || line.startsWith("at")) {
        // The echo of a command: only while the modem is being set up.
        if (m_portState == PortState::Ready)
            m_echoSeen = true;
        return;
    }
    if (line == "RING" || line.startsWith("RING ") || line.startsWith("RING;")) {
        // "RING;<caller>;<called>": some modems put the numbers on the ring line itself.
        if (line.startsWith("RING;")) {
            const QByteArray caller = line.mid(5).split(';').value(0).trimmed();
            if (!caller.isEmpty() && m_hLine != 0)
                m_cid.feedTag("NMBR", caller);
        }
        ring();
        return;
    }
    if (m_current && isFinalResult(line)) {
        finishCommand(line.startsWith("CONNECT") ? QByteArray("CONNECT") : line);
        return;
    }
    const bool inCall = m_offHook || m_answering;
    if (!inCall && m_hLine != 0 && m_cid.feedLine(line)) {
        m_cidTimer->setEnabled(false);
        m_cidTimer->setEnabled(true);
        return;
    }
    if (m_current)
        m_info << line;
}

void ModemLine::handleEvent(char code)
{
    if (m_portState == PortState::Closed)
        return;
    switch (code) {
    case kEtx:
        if (m_mode == DataMode::Receive) {
            if (!m_layoutProbe.isEmpty())
                settleLayout();
            m_mode = DataMode::Command;
            m_lineBuffer.clear();
            updateTick();
        }
        break;
    case 'R':
        ring();
        break;
    case '/':
        m_inDtmfBlock = true;
        m_lastDigit = 0;
        break;
    case '~':
    case 0x7F:
        m_inDtmfBlock = false;
        break;
    case 'b':
    case 'K':
        farEndGone();
        break;
    case 's':
    case 'q':
        // The modem's own silence detection: a pause in a message is not a hang-up. Ending a
        // call on silence is the stop trigger's job, by the user's silence options.
        ++m_stats.silenceReports;
        break;
    case 'l':
    case 'L':
        // A loop-current interruption or a polarity reversal. On a dialled call the first one
        // is the called party answering (answer supervision; a Conexant chip with -STE reports
        // an off-hook reversal as "l"); otherwise "l" is the far end hanging up.
        if (!m_incoming && m_hCall != 0 && !m_farEndAnswered) {
            m_farEndAnswered = true;
            break;
        }
        if (code == 'l')
            farEndGone();
        break;
    case 'd':
    case 'i':
        if (!(m_profile->spuriousDialTone && m_mode != DataMode::Command))
            farEndGone();
        break;
    case 'u':
        ++m_stats.underruns;
        break;
    case 'X':
        m_inComplexEvent = true;
        break;
    case '.':
        if (m_inComplexEvent) {
            m_inComplexEvent = false;
            flushCallerId();
        }
        break;
    default:
        if (isDtmfKey(QLatin1Char(code)))
            digit(code);
        // Timing marks, handset and voice-detected reports and the like are not needed.
        break;
    }
}

// --- command queue ---------------------------------------------------------------------------

ModemLine::Command ModemLine::makeCommand(QByteArray command, Done done, int timeoutMs) const
{
    Command c;
    if (!command.isEmpty())
        c.bytes = command + '\r';
    c.timeoutMs = timeoutMs > 0 ? timeoutMs : m_options.commandTimeoutMs;
    c.done = std::move(done);
    return c;
}

void ModemLine::queue(QByteArray command, Done done, int timeoutMs)
{
    m_queue.push_back(makeCommand(std::move(command), std::move(done), timeoutMs));
}

void ModemLine::queueFirst(QByteArray command, Done done)
{
    m_queue.push_front(makeCommand(std::move(command), std::move(done), 0));
}

void ModemLine::pump()
{
    updateTick();
    if (m_portState == PortState::Closed || m_current)
        return;
    if (!m_queue.empty()) {
        if (m_mode != DataMode::Command) {
            leaveDataState(m_hangingUp || m_txAbort);
            return;
        }
        sendNext();
        return;
    }
    if (m_portState != PortState::Ready)
        return;
    const DataMode want = wantedMode();
    if (want == m_mode)
        return;
    if (m_mode != DataMode::Command)
        leaveDataState(m_txAbort || m_hangingUp);
    else if (want == DataMode::Receive)
        enterReceive();
    else if (want == DataMode::Transmit)
        enterTransmit();
}

void ModemLine::sendNext()
{
    while (!m_queue.empty() && m_queue.front().bytes.isEmpty()) {
        // A step without bytes only continues a sequence.
        Command c = std::move(m_queue.front());
        m_queue.pop_front();
        const std::uint64_t epoch = m_epoch;
        if (c.done)
            c.done("OK", {});
        if (epoch != m_epoch || m_current)
            return;
    }
    if (m_queue.empty()) {
        pump();
        return;
    }
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    m_info.clear();
    m_commandTimer->setInterval(m_current->timeoutMs);
    m_commandTimer->setEnabled(true);
    write(m_current->bytes);
}

void ModemLine::finishCommand(const QByteArray &result)
{
    Command c = std::move(*m_current);
    m_current.reset();
    m_commandTimer->setEnabled(false);
    const QList<QByteArray> info = std::move(m_info);
    m_info.clear();
    const std::uint64_t epoch = m_epoch;
    if (c.done)
        c.done(result, info);
    if (epoch == m_epoch)
        pump();
}

void ModemLine::commandTimedOut()
{
    m_commandTimer->setEnabled(false);
    if (!m_current)
        return;
    ++m_stats.timeouts;
    const bool endsData = m_current->endsData;
    if (endsData && !m_resyncing) {
        // The end of the voice data state never came (a lost <DLE><ETX>): back to commands.
        Command c = std::move(*m_current);
        m_current.reset();
        if (c.done)
            c.done("OK", {});
        resynchronise();
        return;
    }
    if (m_current->onTimeout) {
        const std::function<void()> onTimeout = std::move(m_current->onTimeout);
        m_current.reset();
        onTimeout();
        return;
    }
    m_current.reset();
    resetPort();
}

void ModemLine::resetPort()
{
    ++m_stats.resets;
    if (!m_portReported) {
        status(notice::kNotAnswering, {m_portName});
        m_portReported = true;
    }
    endCallOnFault();
    closePort();
    openPort();
}

void ModemLine::resynchronise()
{
    m_mode = DataMode::Command;
    m_dle.reset();
    m_lineBuffer.clear();
    m_resyncing = true;
    queueFirst("AT", [this](const QByteArray &, const QList<QByteArray> &) { m_resyncing = false; });
    pump();
}

// --- sequences -------------------------------------------------------------------------------

void ModemLine::initialise(bool hangUpFirst)
{
    m_queue.clear();
    if (hangUpFirst)
        queue("ATH0");
    queue("ATZ", {}, m_options.resetTimeoutMs);
    queue("ATE0");
    queue("ATV1");
    queue("ATS0=0");
    if (!m_identifiedOnce) {
        m_identity.clear();
        m_name.clear();
        const auto collect = [this](const QByteArray &result, const QList<QByteArray> &info) {
            if (result != "OK")
                return;
            for (const QByteArray &line : info)
                m_identity += line + '\n';
        };
        queue("ATI0", collect);
        queue("ATI3", [this, collect](const QByteArray &result, const QList<QByteArray> &info) {
            collect(result, info);
            if (result == "OK" && !info.isEmpty())
                m_name = info.front().trimmed();
        });
        queue("AT+GMI", [this, collect](const QByteArray &result, const QList<QByteArray> &info) {
            collect(result, info);
            if (m_name.isEmpty() && result == "OK" && !info.isEmpty())
                m_name = QByteArray(info.front()).replace("+GMI:", "").trimmed();
        });
        queue("AT+FCLASS=?", [this](const QByteArray &result, const QList<QByteArray> &info) {
            m_voice = result == "OK" && parseClasses(info).contains(QStringLiteral("8"));
            afterIdentification();
        });
    } else {
        finishInitialisation();
    }
    pump();
}

void ModemLine::afterIdentification()
{
    if (m_options.forcedProfile.isEmpty() || !profileById(m_options.forcedProfile))
        m_profile = &profileFor(m_identity);
    if (m_name.isEmpty())
        m_name = "Voice modem";
    if (!m_voice) {
        finishInitialisation();
        return;
    }
    queue("AT+FCLASS=8");
    queue("AT+VSM=?", [this](const QByteArray &result, const QList<QByteArray> &info) {
        m_vsm = result == "OK" ? parseVsmList(info) : QList<VsmEntry>{};
        m_format = chooseVoiceFormat(m_vsm, m_options.linkBytesPerSecond);
        m_layoutChecked = false;
        for (int i = 0; !m_format && i < m_profile->fallbackFormats.size(); ++i)
            m_format = parseFormatCode(m_profile->fallbackFormats[i]);
    });
    queue("AT+FCLASS=0", [this](const QByteArray &, const QList<QByteArray> &) { finishInitialisation(); });
}

void ModemLine::finishInitialisation()
{
    if (!m_options.countryCode.isEmpty())
        queue("AT+GCI=" + m_options.countryCode.toLatin1());
    for (const QString &command : m_profile->extraInit)
        queue(command.toLatin1());
    enableCallerId(0);
}

void ModemLine::enableCallerId(int attempt)
{
    const QStringList &commands = m_profile->callerIdCommands;
    if (attempt >= commands.size()) {
        m_callerIdCommand.clear();
        queue({}, [this](const QByteArray &, const QList<QByteArray> &) {
            m_portState = PortState::Ready;
            status(notice::kReadyNoCallerId, {QString::fromLatin1(m_name), m_portName});
            m_identifiedOnce = true;
            m_portReported = false;
        });
        return;
    }
    queue(commands[attempt].toLatin1(), [this, attempt](const QByteArray &result, const QList<QByteArray> &) {
        if (result != "OK") {
            enableCallerId(attempt + 1);
            return;
        }
        m_callerIdCommand = m_profile->callerIdCommands[attempt];
        const bool announce = !m_identifiedOnce || m_portReported;
        m_portState = PortState::Ready;
        m_identifiedOnce = true;
        m_portReported = false;
        if (!announce)
            return;
        if (!m_voice)
            status(notice::kNotVoice, {m_portName, QString::fromLatin1(m_name)});
        else
            status(notice::kReady,
                   {QString::fromLatin1(m_name), m_portName, m_profile->displayName,
                    m_format ? QString::fromLatin1(encodingName(m_format->encoding)) : QStringLiteral("?")});
    });
}

void ModemLine::queueVoiceSetup()
{
    if (m_format)
        m_voiceDecoder.setEncoding(m_format->encoding);
    queue("AT+FCLASS=8");
    if (m_format) {
        const QByteArray cml = QByteArray::number(m_format->cml);
        const QByteArray first = m_profile->vsmWithRate ? "AT+VSM=" + cml + ",8000" : "AT+VSM=" + cml;
        queue(first, [this, cml](const QByteArray &result, const QList<QByteArray> &) {
            // Some firmware wants all four arguments.
            if (result == "ERROR")
                queueFirst("AT+VSM=" + cml + ",8000,0,0");
        });
    }
    if (!m_profile->silenceCommand.isEmpty())
        queue(m_profile->silenceCommand.toLatin1());
    if (!m_profile->inactivityCommand.isEmpty()) {
        // A chip that will not switch its inactivity timer off is kept awake while it streams.
        queue(m_profile->inactivityCommand.toLatin1(),
              [this](const QByteArray &result, const QList<QByteArray> &) { m_streamKeepAlive = result != "OK"; });
    }
}

void ModemLine::queueHangUp()
{
    queue("ATH0", [this](const QByteArray &result, const QList<QByteArray> &) {
        if (result != "OK")
            queueFirst("AT+VLS=0");
    });
    queue("AT+FCLASS=0");
    // Several chips forget caller ID when they leave voice mode.
    if (!m_callerIdCommand.isEmpty())
        queue(m_callerIdCommand.toLatin1());
    queue({}, [this](const QByteArray &, const QList<QByteArray> &) {
        m_hangingUp = false;
        m_offHook = false;
    });
}

void ModemLine::leaveDataState(bool abort)
{
    Command c;
    c.endsData = true;
    c.timeoutMs = m_options.leaveDataTimeoutMs;
    if (m_mode == DataMode::Receive) {
        c.bytes = dleCode('!');
    } else {
        c.bytes = abort ? dleCode(kCan) + dleCode(kEtx) : dleCode(kEtx);
    }
    c.done = [this](const QByteArray &, const QList<QByteArray> &) {
        if (!m_layoutProbe.isEmpty())
            settleLayout();
        m_mode = DataMode::Command;
        m_txAbort = false;
        if (m_out)
            m_out->allPlayed();
    };
    m_current = std::move(c);
    m_info.clear();
    m_commandTimer->setInterval(m_current->timeoutMs);
    m_commandTimer->setEnabled(true);
    write(m_current->bytes);
}

void ModemLine::enterReceive()
{
    queue("AT+VRX", [this](const QByteArray &result, const QList<QByteArray> &) {
        if (result == "CONNECT") {
            m_mode = DataMode::Receive;
            m_voiceDecoder.reset();
            m_lineBuffer.clear();
            m_lastRxAt = m_loop.now();
            m_lastPokeAt = m_lastRxAt;
            updateTick();
        } else {
            status(notice::kRefusesRecord, {m_portName, QString::fromLatin1(result)});
            m_voiceRefused = true;
        }
    });
    sendNext();
}

void ModemLine::enterTransmit()
{
    queue("AT+VTX", [this](const QByteArray &result, const QList<QByteArray> &) {
        if (result == "CONNECT") {
            m_mode = DataMode::Transmit;
            m_txStartedAt = m_loop.now();
            m_lastSendAt = m_txStartedAt;
            m_txBase = m_out ? m_out->sentTotal() : 0;
            m_txAbort = false;
            m_tickTimer->setEnabled(true);
            sendAudio();
        } else {
            status(notice::kRefusesPlay, {m_portName, QString::fromLatin1(result)});
            m_voiceRefused = true;
            if (m_out) {
                m_out->lineGone();
                m_out = nullptr;
            }
        }
    });
    sendNext();
}

// --- calls -----------------------------------------------------------------------------------

void ModemLine::emitEvent(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
                          std::uint32_t p3)
{
    if (m_hLine != 0 && m_emit)
        m_emit(device, message, p1, p2, p3);
}

void ModemLine::reply(std::int32_t request, std::int32_t result)
{
    emitEvent(0, LINE_REPLY, static_cast<std::uint32_t>(request), static_cast<std::uint32_t>(result), 0);
}

void ModemLine::setCallState(std::uint32_t state, std::uint32_t detail)
{
    m_callState = state;
    emitEvent(m_hCall, LINE_CALLSTATE, state, detail, kCallPrivilegeOwner);
}

void ModemLine::newIncomingCall()
{
    m_hCall = m_nextHandle ? m_nextHandle() : m_hCall + 1;
    m_callState = 0;
    m_incoming = true;
    m_offered = false;
    m_disconnected = false;
    m_monitoring = false;
    m_generating = false;
    m_voiceRefused = false;
    m_ringCount = 0;
    m_callerId = {};
    m_callerId.flags = CallPartyId::Unknown;
    m_callerIdKnown = false;
    m_inDtmfBlock = false;
    m_lastDigit = 0;
    m_farEndAnswered = false;
}

void ModemLine::ring()
{
    if (m_hLine == 0) {
        m_cid.clear();
        return;
    }
    const bool busyLine = m_hCall != 0 && m_callState != LineCallState::Idle
        && (!m_incoming || m_offHook || m_answering || m_callState == LineCallState::Connected);
    if (busyLine)
        return; // call waiting: the line is in use
    flushCallerId();
    if (m_hCall == 0 || m_callState == LineCallState::Idle || !m_incoming)
        newIncomingCall();
    ++m_ringCount;
    if (!m_offered) {
        m_offered = true;
        setCallState(LineCallState::Offering);
        if (m_callerIdKnown)
            emitEvent(m_hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
    }
    if (m_lineStates & kLineDevStateRinging)
        emitEvent(m_hLine, LINE_LINEDEVSTATE, kLineDevStateRinging, 1, static_cast<std::uint32_t>(m_ringCount));
    m_graceTimer->setEnabled(false);
    m_graceTimer->setEnabled(true);
}

void ModemLine::flushCallerId()
{
    m_cidTimer->setEnabled(false);
    if (!m_cid.hasData())
        return;
    const CallerIdData data = m_cid.take();
    if (m_hLine == 0 || m_offHook || m_answering)
        return;
    if (m_hCall != 0 && m_callState != LineCallState::Idle && !m_incoming)
        return;
    if (m_hCall == 0 || m_callState == LineCallState::Idle || !m_incoming)
        newIncomingCall();
    // A report in several packets, or parts of it seconds apart: every part adds to the call's.
    if (m_callerIdKnown)
        mergeCallerId(m_callerId, data);
    else
        m_callerId = data;
    m_callerIdKnown = true;
    if (m_offered)
        emitEvent(m_hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
}

void ModemLine::ringingStopped()
{
    m_graceTimer->setEnabled(false);
    if (m_incoming && m_callState == LineCallState::Offering && !m_answering && !m_offHook)
        setCallState(LineCallState::Idle);
}

void ModemLine::farEndGone()
{
    if (m_hCall == 0 || m_disconnected || m_hangingUp)
        return;
    if (m_callState != LineCallState::Connected && m_callState != LineCallState::Dialing)
        return;
    m_disconnected = true;
    setCallState(LineCallState::Disconnected, kDisconnectModeNormal);
}

void ModemLine::endCallOnFault()
{
    if (m_pendingRequest != 0) {
        reply(m_pendingRequest, LineErr::OperationFailed);
        m_pendingRequest = 0;
    }
    m_answering = false;
    if (m_generating) {
        m_generating = false;
        emitEvent(m_hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    }
    if (m_hCall != 0) {
        if (m_callState == LineCallState::Offering) {
            m_graceTimer->setEnabled(false);
            setCallState(LineCallState::Idle);
        } else {
            farEndGone();
        }
    }
    if (m_out)
        m_out->allPlayed();
    m_offHook = false;
    m_hangingUp = false;
}

void ModemLine::digit(char key)
{
    // Simple reports come once per key press, however fast the presses follow each other.
    // Between <DLE>/ and <DLE>~ the key is repeated while it is held: one press, one digit.
    if (m_inDtmfBlock && key == m_lastDigit)
        return;
    m_lastDigit = key;
    if (m_monitoring && m_callState == LineCallState::Connected)
        emitEvent(m_hCall, LINE_MONITORDIGITS, static_cast<unsigned char>(key), kDigitModeDtmf, 0);
}

// --- the line functions ----------------------------------------------------------------------

void ModemLine::open(HLine handle, std::uintptr_t instance, std::uint32_t mediaModes)
{
    m_hLine = handle;
    m_instance = instance;
    m_openModes = mediaModes;
    m_lineStates = 0;
}

void ModemLine::close()
{
    if (m_hCall != 0 && m_callState != LineCallState::Idle && (m_offHook || m_answering || !m_incoming)) {
        m_hangingUp = true;
        m_answering = false;
        queueHangUp();
        pump();
    }
    m_graceTimer->setEnabled(false);
    m_hLine = 0;
    m_hCall = 0;
    m_callState = 0;
    m_incoming = false;
    m_offered = false;
    m_pendingRequest = 0;
    m_generating = false;
    m_monitoring = false;
}

void ModemLine::fillCallInfo(LineCallInfo &info) const
{
    info.hLine = m_hLine;
    info.callState = m_callState;
    info.callerIdFlags = m_callerId.flags;
    info.callerIdNumber = m_callerId.number;
    info.callerIdName = m_callerId.name;
}

std::int32_t ModemLine::answer()
{
    if (!m_incoming || m_callState != LineCallState::Offering || m_answering || m_offHook)
        return LineErr::InvalCallState;
    if (m_portState != PortState::Ready || !m_voice)
        return LineErr::ResourceUnavail;
    const std::int32_t request = m_nextRequest ? m_nextRequest() : 1;
    m_answering = true;
    m_pendingRequest = request;
    m_graceTimer->setEnabled(false);
    queueVoiceSetup();
    const HCall call = m_hCall;
    queue(m_profile->offHookCommand.toLatin1(), [this, request, call](const QByteArray &result, const QList<QByteArray> &) {
        m_answering = false;
        m_pendingRequest = 0;
        if (call != m_hCall || m_callState != LineCallState::Offering) {
            // Dropped while going off-hook: the hang-up that follows puts it back.
            m_offHook = accepted(result);
            return;
        }
        if (!accepted(result)) {
            reply(request, LineErr::OperationFailed);
            m_graceTimer->setEnabled(true);
            return;
        }
        m_offHook = true;
        m_lastPadAt = m_loop.now();
        m_tickTimer->setEnabled(true);
        reply(request, 0);
        setCallState(LineCallState::Connected);
    });
    pump();
    return request;
}

std::int32_t ModemLine::drop()
{
    if (m_hCall == 0 || m_callState == LineCallState::Idle)
        return LineErr::InvalCallState;
    const std::int32_t request = m_nextRequest ? m_nextRequest() : 1;
    if (m_generating) {
        m_generating = false;
        emitEvent(m_hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    }
    if (m_pendingRequest != 0) {
        reply(m_pendingRequest, LineErr::OperationFailed);
        m_pendingRequest = 0;
    }
    m_graceTimer->setEnabled(false);
    m_monitoring = false;
    if (m_portState != PortState::Closed) {
        if (!m_offHook && !m_answering && m_incoming) {
            // A ringing call cannot be refused on an analog line: it is picked up and hung up.
            m_hangingUp = true;
            queue("AT+FCLASS=8");
            queue(m_profile->offHookCommand.toLatin1());
            queueHangUp();
        } else {
            m_hangingUp = true;
            queueHangUp();
        }
    }
    m_answering = false;
    // The call is gone for the application: what it still plays comes back at once.
    if (m_out) {
        m_out->lineGone();
        m_out = nullptr;
    }
    reply(request, 0);
    setCallState(LineCallState::Idle);
    pump();
    return request;
}

std::int32_t ModemLine::generateDigits(const QString &digits, std::uint32_t durationMs)
{
    if (m_callState != LineCallState::Connected)
        return LineErr::InvalCallState;
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), isDtmfKey))
        return LineErr::InvalDigitList;
    if (m_generating)
        emitEvent(m_hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    QByteArray list;
    for (const QChar key : digits) {
        if (!list.isEmpty())
            list += ',';
        if (durationMs == 0)
            list += key.toLatin1();
        else
            list += '{' + QByteArray(1, key.toLatin1()) + ',' + QByteArray::number(std::max<std::uint32_t>(1, durationMs / 10)) + '}';
    }
    m_generating = true;
    const HCall call = m_hCall;
    const int timeout = m_options.commandTimeoutMs
        + static_cast<int>(digits.size()) * static_cast<int>(std::min<std::uint32_t>(durationMs ? durationMs : 100, 5000) + 100);
    queue("AT+VTS=" + list, [this, call](const QByteArray &result, const QList<QByteArray> &) {
        if (!m_generating || call != m_hCall)
            return;
        m_generating = false;
        emitEvent(m_hCall, LINE_GENERATE, result == "OK" ? kGenerateTermDone : kGenerateTermCancel, 0, 0);
    }, timeout);
    pump();
    return 0;
}

std::int32_t ModemLine::monitorDigits(std::uint32_t modes)
{
    if (m_hCall == 0 || m_callState == LineCallState::Idle)
        return LineErr::InvalCallState;
    if ((modes & ~std::uint32_t{0x7}) != 0)
        return LineErr::InvalDigitMode;
    m_monitoring = modes != 0;
    return 0;
}

std::int32_t ModemLine::deallocateCall()
{
    if (m_callState != LineCallState::Idle)
        return LineErr::InvalCallState;
    m_hCall = 0;
    m_callState = 0;
    m_incoming = false;
    m_offered = false;
    m_ringCount = 0;
    m_callerIdKnown = false;
    return 0;
}

std::int32_t ModemLine::makeCall(const QString &number, HCall &call)
{
    if (m_hCall != 0 && m_callState != LineCallState::Idle && m_callState != 0)
        return LineErr::CallUnavail;
    QByteArray dial;
    for (const QChar c : number) {
        if (isDtmfKey(c) || c == QLatin1Char(',') || c == QLatin1Char('W') || c == QLatin1Char('w'))
            dial += c.toUpper().toLatin1();
    }
    if (dial.isEmpty())
        return LineErr::InvalAddress;
    if (m_portState != PortState::Ready || !m_voice || m_hangingUp)
        return LineErr::ResourceUnavail;
    const std::int32_t request = m_nextRequest ? m_nextRequest() : 1;
    newIncomingCall();
    m_incoming = false;
    m_offered = true;
    call = m_hCall;
    reply(request, 0);
    setCallState(LineCallState::Dialing);
    queueVoiceSetup();
    const HCall handle = m_hCall;
    queue("ATD" + dial + ';', [this, handle](const QByteArray &result, const QList<QByteArray> &) {
        // Off-hook whatever came of it; the hang-up puts the line back.
        m_offHook = true;
        if (handle != m_hCall || m_callState != LineCallState::Dialing)
            return;
        m_lastPadAt = m_loop.now();
        m_tickTimer->setEnabled(true);
        if (accepted(result)) {
            setCallState(LineCallState::Connected);
        } else {
            status(notice::kDialFailed, {QString::fromLatin1(result)});
            m_disconnected = true;
            setCallState(LineCallState::Disconnected, kDisconnectModeNormal);
        }
    }, m_options.dialTimeoutMs);
    pump();
    return request;
}

// --- audio -----------------------------------------------------------------------------------

WaveResult ModemLine::openInput(WaveCallback callback, std::unique_ptr<WaveIn> &device)
{
    if (m_in)
        return MMSYSERR_ALLOCATED;
    auto in = std::make_unique<ModemWaveIn>(
        std::move(callback),
        [this, alive = m_alive] {
            if (*alive)
                audioChanged();
        },
        [this, alive = m_alive] {
            if (*alive) {
                m_in = nullptr;
                audioChanged();
            }
        });
    m_in = in.get();
    device = std::move(in);
    return MMSYSERR_NOERROR;
}

WaveResult ModemLine::openOutput(WaveCallback callback, std::unique_ptr<WaveOut> &device)
{
    if (m_out)
        return MMSYSERR_ALLOCATED;
    auto out = std::make_unique<ModemWaveOut>(
        std::move(callback),
        [this, alive = m_alive] {
            if (*alive)
                audioChanged();
        },
        [this, alive = m_alive] {
            if (*alive)
                outputAborted();
        },
        [this, alive = m_alive] {
            if (*alive) {
                m_out = nullptr;
                audioChanged();
            }
        });
    m_out = out.get();
    device = std::move(out);
    return MMSYSERR_NOERROR;
}

ModemLine::DataMode ModemLine::wantedMode() const
{
    if (m_portState != PortState::Ready || !m_offHook || m_hangingUp || m_voiceRefused || !m_format)
        return DataMode::Command;
    if (m_out && !m_txAbort && m_out->hasUnsent())
        return DataMode::Transmit;
    if (m_in && m_in->running())
        return DataMode::Receive;
    return DataMode::Command;
}

void ModemLine::audioChanged() { pump(); }

void ModemLine::outputAborted()
{
    if (m_mode == DataMode::Transmit)
        m_txAbort = true;
    pump();
}

void ModemLine::tick()
{
    const std::int64_t now = m_loop.now();
    if (m_mode == DataMode::Transmit && !m_current)
        sendAudio();
    if (m_in && m_in->running() && m_mode != DataMode::Receive) {
        // No voice data from the modem (playing, switching, or no modem): the line carries
        // silence, so that the capture keeps time.
        const auto due = static_cast<std::size_t>(std::max<std::int64_t>(0, now - m_lastPadAt) * kSamplesPerMs);
        if (due > 0) {
            m_samples.assign(due, 0);
            m_in->deliver(m_samples);
        }
    }
    m_lastPadAt = now;
    updateTick();
}

void ModemLine::updateTick()
{
    // The tick paces playback and stands in for the modem's clock when it sends no audio; while
    // the modem streams what the capture needs, the line has nothing to do between reads.
    const bool inputWaiting = m_in && m_in->running() && m_mode != DataMode::Receive;
    const bool needed = m_mode == DataMode::Transmit || inputWaiting;
    if (needed && !m_tickTimer->isEnabled())
        m_lastPadAt = m_loop.now();
    m_tickTimer->setEnabled(needed);
    m_rxWatchTimer->setEnabled(m_mode == DataMode::Receive && m_portState != PortState::Closed);
}

void ModemLine::receiveWatch()
{
    if (m_mode != DataMode::Receive || m_portState == PortState::Closed) {
        m_rxWatchTimer->setEnabled(false);
        return;
    }
    const std::int64_t now = m_loop.now();
    if (now - m_lastRxAt >= m_options.receiveStallMs) {
        // A modem in voice receive sends all the time; silence from it means it hangs. The
        // call ends as a fault (the application keeps what was recorded) and the modem is
        // reset and initialised again, as after an unplugging.
        ++m_stats.stalls;
        if (!m_portReported) {
            status(notice::kReceiveStalled, {m_portName});
            m_portReported = true;
        }
        endCallOnFault();
        closePort();
        openPort();
        return;
    }
    if (m_streamKeepAlive && now - m_lastPokeAt >= m_options.streamKeepAliveMs && !m_current) {
        // <DLE><NUL> does nothing but restart the modem's inactivity timer.
        write(dleCode('\0'));
        m_lastPokeAt = now;
        ++m_stats.keepAlives;
    }
}

void ModemLine::deliverReceived(const char *data, qsizetype size)
{
    if (!m_layoutChecked && m_format && isSixteenBit(m_format->encoding)) {
        // The first second is held back until its layout is known.
        m_layoutProbe.append(data, size);
        if (m_layoutProbe.size() >= 8000 * 2)
            settleLayout();
        return;
    }
    m_samples.clear();
    m_voiceDecoder.decode(data, size, m_samples);
    m_stats.samplesReceived += static_cast<std::int64_t>(m_samples.size());
    if (m_in)
        m_in->deliver(m_samples);
}

void ModemLine::settleLayout()
{
    const QByteArray probe = std::exchange(m_layoutProbe, QByteArray());
    if (!m_format)
        return;
    // A tenth of a second is enough to judge; less is judged with the next recording.
    if (probe.size() >= 1600) {
        m_layoutChecked = true;
        const VoiceEncoding found = detectSampleLayout(probe, m_format->encoding);
        if (found != m_format->encoding) {
            m_format->encoding = found;
            m_voiceDecoder.setEncoding(found);
            m_stats.layoutCorrected = true;
            status(notice::kSampleLayout, {m_portName, QString::fromLatin1(encodingName(found))});
        }
    }
    const bool checked = m_layoutChecked;
    m_layoutChecked = true;
    deliverReceived(probe.constData(), probe.size());
    m_layoutChecked = checked;
}

void ModemLine::sendAudio()
{
    if (!m_out || !m_format || m_txAbort)
        return;
    const std::int64_t now = m_loop.now();
    const std::int64_t clock = (now - m_txStartedAt) * kSamplesPerMs;
    const std::int64_t target = clock + static_cast<std::int64_t>(m_profile->playLeadMs) * kSamplesPerMs;
    const std::int64_t sent = m_out->sentTotal() - m_txBase;
    if (target > sent) {
        m_samples.clear();
        const std::size_t n = m_out->take(static_cast<std::size_t>(target - sent), m_samples);
        if (n > 0) {
            QByteArray raw;
            encodeSamples(m_format->encoding, m_samples, raw);
            write(shielded(raw));
            m_stats.samplesSent += static_cast<std::int64_t>(n);
            m_stats.largestSendGapMs = std::max(m_stats.largestSendGapMs, now - m_lastSendAt);
            m_lastSendAt = now;
        }
    }
    if (m_out)
        m_out->playedUpTo(m_txBase + clock);
    if (m_out && !m_out->hasUnsent())
        pump();
}

} // namespace telvox::modem
