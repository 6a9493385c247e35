// The voice-modem line: the command queue (one command at a time, each with its timeout) and
// the command sequences: initialisation, voice set-up, hanging up, entering and leaving the
// voice data states.

#include "platform/telephony/modem/ModemLine.h"

#include "core/EventLoop.h"
#include "platform/telephony/modem/ModemAudio.h"

namespace telvox::modem {

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
    // After a voice receive the modem ended by itself, its OK is awaited first: sent now, a
    // command would take that OK for its own answer.
    if (m_portState == PortState::Closed || m_current || m_awaitingLeftOk)
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
            m_receiveLeft = false;
            m_mode = DataMode::Receive;
            m_voiceDecoder.reset();
            m_lineBuffer.clear();
            m_lastPokeAt = m_loop.now();
            updateTick();
        } else if (m_receiveLeft) {
            // It recorded before and will not now: the line is in a state we do not know.
            receiveFault(notice::kReceiveNotResumed, {m_portName, QString::fromLatin1(result)});
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

} // namespace telvox::modem
