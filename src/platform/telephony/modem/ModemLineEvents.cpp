// The voice-modem line: what the modem sends in command state: result and report lines
// (rings, caller ID, replies to commands) and the <DLE> event codes of every state.

#include "platform/telephony/modem/ModemLine.h"

#include "core/EventLoop.h"

namespace telvox::modem {

namespace {

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
            if (!caller.isEmpty() && m_slot.hLine != 0)
                m_cid.feedTag("NMBR", caller);
        }
        ring();
        return;
    }
    if (m_awaitingLeftOk && !m_current && isFinalResult(line)) {
        // The OK that follows a voice receive the modem ended by itself.
        m_leftReceiveTimer->setEnabled(false);
        resumeReceive();
        return;
    }
    if (m_current && isFinalResult(line)) {
        finishCommand(line.startsWith("CONNECT") ? QByteArray("CONNECT") : line);
        return;
    }
    const bool inCall = m_offHook || m_answering;
    if (!inCall && m_slot.hLine != 0 && m_cid.feedLine(line)) {
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
            // The end of voice receive: asked for (<DLE>! sent), or the modem's own doing, as
            // some chips do after their silence report or on a line event (the far end gone).
            const bool asked = m_current && m_current->endsData;
            if (!m_layoutProbe.isEmpty())
                settleLayout();
            m_mode = DataMode::Command;
            m_lineBuffer.clear();
            if (!asked)
                receiveLeftByModem();
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
        if (!m_slot.incoming && m_slot.hCall != 0 && !m_farEndAnswered) {
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

} // namespace telvox::modem
