// An emulated voice modem: its pseudo-terminal and its command interpreter. The voice data
// streams, the calls on its line and the injected faults are in EmulatedModemCall.cpp.

#include "EmulatedModem.h"

#include "sim/exchange/VirtualExchange.h"
#include "platform/telephony/modem/VoiceFormat.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

namespace telvox::modemsim {

using modem::kDle;
using modem::kEtx;

namespace {
constexpr int kAudioTickMs = 20;
} // namespace

EmulatedModem::EmulatedModem(EventLoop &loop, VirtualExchange &exchange, int line, HLine hLine,
                             const SimProfile &profile, QString linkPath)
    : m_loop(loop)
    , m_startedAt(loop.now())
    , m_later(loop)
    , m_exchange(exchange)
    , m_line(line)
    , m_hLine(hLine)
    , m_profile(profile)
    , m_linkPath(std::move(linkPath))
    , m_context(std::make_unique<QObject>())
{
    m_cml = m_profile.defaultCml;
    m_audioTimer = m_loop.createTimer(kAudioTickMs, [this] {
        if (m_state == State::Receive)
            receiveTick();
        else if (m_state == State::Transmit)
            playTick();
    });
    m_fromDte.setHandlers([this](const char *d, qsizetype n) { transmitData(d, n); },
                          [this](char c) { transmitEvent(c); });
    m_watchTimer = m_loop.createTimer(100, [this] { watchLine(); });
    m_watchTimer->setEnabled(true);
}

EmulatedModem::~EmulatedModem()
{
    *m_alive = false;
    closePty();
}

QString EmulatedModem::plugIn()
{
    closePty();
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        return QString();
    termios tio{};
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        QFile::link(m_slavePath, m_linkPath);
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, m_context.get());
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_context.get(), [this] { readMaster(); });
    reset();
    return m_slavePath;
}

void EmulatedModem::closePty()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
}

QString EmulatedModem::statsLine() const
{
    return QStringLiteral("Line%1 stats: played=%2 recorded=%3 largest-gap-ms=%4 holds=%5 underruns=%6")
        .arg(m_line)
        .arg(m_stats.bytesPlayed)
        .arg(m_stats.bytesRecorded)
        .arg(m_stats.largestChunkGapMs)
        .arg(m_stats.holds)
        .arg(m_stats.underruns);
}

// --- the serial side -------------------------------------------------------------------------

void EmulatedModem::send(const QByteArray &bytes)
{
    if (m_master < 0 || m_muted)
        return;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
        if (n <= 0)
            break; // the computer does not read: the rest is lost, as on a real line
        at += n;
    }
}

void EmulatedModem::result(const QByteArray &text) { send(m_verbose ? "\r\n" + text + "\r\n" : text + "\r"); }
void EmulatedModem::info(const QByteArray &text) { send("\r\n" + text + "\r\n"); }
void EmulatedModem::sendDle(char code) { send(QByteArray{1, kDle} + code); }

void EmulatedModem::readMaster()
{
    char buffer[4096];
    for (;;) {
        qsizetype limit = sizeof buffer;
        if (m_state == State::Transmit && !m_muted) {
            // Flow control: what does not fit the transmit buffer stays with the computer
            // (in the pty, whose writer then blocks, as behind CTS or a USB endpoint's NAK).
            const qsizetype room = m_profile.transmitBufferBytes - m_txBuffer.size();
            if (room <= 0) {
                if (!m_readHeld) {
                    m_readHeld = true;
                    ++m_stats.holds;
                    if (m_notifier)
                        m_notifier->setEnabled(false);
                }
                return;
            }
            limit = std::min(limit, room);
        }
        const ssize_t n = ::read(m_master, buffer, static_cast<size_t>(limit));
        if (n <= 0)
            return;
        m_lastDteAt = elapsed();
        if (m_muted)
            continue;
        if (m_state != State::Command) {
            m_fromDte.feed(buffer, n);
            holdOrRelease();
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\r') {
                const QByteArray line = m_input;
                m_input.clear();
                if (m_echo)
                    send(line + '\r');
                commandLine(line.trimmed());
                if (m_state != State::Command) {
                    // Whatever follows the command already belongs to the voice data.
                    m_fromDte.reset();
                    m_fromDte.feed(buffer + i + 1, n - i - 1);
                    holdOrRelease();
                    break;
                }
            } else if (c == kDle) {
                ++i; // a stream code that arrived after the stream ended
            } else if (static_cast<unsigned char>(c) >= 0x20 && m_input.size() < 256) {
                m_input.append(c);
            }
        }
    }
}

void EmulatedModem::commandLine(const QByteArray &line)
{
    if (line.size() < 2 || line.left(2).toUpper() != "AT")
        return;
    const QByteArray body = line.mid(2);
    bool ok = true;
    bool deferred = false;
    QByteArray reply;
    qsizetype i = 0;
    while (i < body.size() && ok) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i])));
        if (c == ' ' || c == ';') {
            ++i;
        } else if (c == '+' || c == '#' || c == '-' || c == '!') {
            qsizetype end = body.indexOf(';', i);
            if (end < 0)
                end = body.size();
            const QByteArray cmd = body.mid(i, end - i);
            qsizetype split = 1;
            while (split < cmd.size() && cmd[split] != '=' && cmd[split] != '?')
                ++split;
            ok = command(cmd.left(split).toUpper(), cmd.mid(split), deferred, reply);
            i = end + 1;
        } else if (c == 'D') {
            ok = command("D", body.mid(i + 1).trimmed(), deferred, reply);
            i = body.size();
        } else if (c == 'S' || c == '&') {
            ++i;
            while (i < body.size() && (std::isalnum(static_cast<unsigned char>(body[i])) || body[i] == '=' || body[i] == '?')
                   && !(std::isalpha(static_cast<unsigned char>(body[i])) && c == 'S'))
                ++i;
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            qsizetype j = i + 1;
            while (j < body.size() && std::isdigit(static_cast<unsigned char>(body[j])))
                ++j;
            ok = command(QByteArray(1, c), body.mid(i + 1, j - i - 1), deferred, reply);
            i = j;
        } else {
            ok = false;
        }
    }
    if (!ok)
        result("ERROR");
    else if (!deferred)
        result(reply.isEmpty() ? QByteArray("OK") : reply);
    if (ok && !deferred && reply == "CONNECT")
        startStream(m_state);
}

void EmulatedModem::startStream(State state)
{
    m_state = state;
    m_streamStart = elapsed();
    m_streamSamples = 0;
    m_lastChunkAt = -1;
    m_txBuffer.clear();
    m_txEnding = false;
    m_underrunReported = false;
    m_quietMs = 0;
    m_heardVoice = false;
    m_silenceReported = false;
    m_audioTimer->setEnabled(true);
}

bool EmulatedModem::command(const QByteArray &name, const QByteArray &arg, bool &deferred, QByteArray &reply)
{
    const bool voice = m_fclass == 8;
    const auto number = [&arg] { return arg.mid(arg.startsWith('=') ? 1 : 0).toInt(); };
    if (name == "Z") {
        reset();
        deferred = true;
        m_later.after(250, [this] { result("OK"); });
        return true;
    }
    if (name == "E") {
        m_echo = arg != "0";
        return true;
    }
    if (name == "V") {
        m_verbose = arg != "0";
        return true;
    }
    if (name == "Q" || name == "L" || name == "M" || name == "X")
        return true;
    if (name == "H") {
        goOnHook();
        return true;
    }
    if (name == "I") {
        const int n = arg.isEmpty() ? 0 : arg.toInt();
        if (!m_profile.ati.contains(n))
            return false;
        for (const QByteArray &l : m_profile.ati.value(n).split('\n'))
            info(l);
        return true;
    }
    if (name == "A") {
        if (!voice || m_hCall == 0 || m_exchange.lineAnswer(m_hCall) <= 0)
            return false;
        m_offHook = true;
        reply = "VCON";
        return true;
    }
    if (name == "D") {
        if (!voice)
            return false;
        QByteArray digits = arg;
        m_dialSemicolon = digits.endsWith(';');
        if (m_dialSemicolon)
            digits.chop(1);
        HCall call = 0;
        if (m_exchange.lineMakeCall(m_hLine, call, QString::fromLatin1(digits), 0) <= 0) {
            reply = "NO DIALTONE";
            return true;
        }
        m_hCall = call;
        m_offHook = true;
        m_pendingDial = true;
        deferred = true;
        return true;
    }
    if (name == "+FCLASS") {
        if (arg == "=?")
            info(m_profile.fclassList);
        else if (arg == "?")
            info(QByteArray::number(m_fclass));
        else if (number() == 0 || number() == 1 || number() == 2 || number() == 8)
            m_fclass = number();
        else
            return false;
        return true;
    }
    if (name == "+VCID" || name == "#CID") {
        if (name == "+VCID" && !m_profile.acceptsVcid)
            return false;
        if (arg == "=?")
            info("(0-2)");
        else if (arg == "?")
            info(QByteArray::number(m_callerIdMode));
        else
            m_callerIdMode = number();
        return true;
    }
    if (name == "+VSM") {
        if (!voice)
            return false;
        if (arg == "=?") {
            for (const QByteArray &l : m_profile.vsmList)
                info(l);
        } else if (arg == "?") {
            info(QByteArray::number(m_cml) + ",8000,0,0");
        } else {
            const QList<QByteArray> values = arg.mid(1).split(',');
            const int cml = values.value(0).toInt();
            if (!m_profile.vsmEncodings.contains(cml) || (values.size() > 1 && values[1].toInt() != 8000))
                return false;
            m_cml = cml;
        }
        return true;
    }
    if (name == "+VLS") {
        if (!voice)
            return false;
        if (arg == "=?") {
            info("0,\"\",00000000,00000000,00000000");
            info("1,\"T\",0BC00000,0BC00000,00000000");
            return true;
        }
        if (number() == 0) {
            goOnHook();
        } else {
            if (m_hCall != 0 && !m_offHook && m_exchange.view(m_line).callState == LineCallState::Offering)
                m_exchange.lineAnswer(m_hCall);
            m_offHook = true;
        }
        return true;
    }
    if (name == "+VRX" || name == "+VTX") {
        if (!voice || !m_offHook)
            return false;
        m_state = name == "+VRX" ? State::Receive : State::Transmit;
        reply = "CONNECT";
        return true;
    }
    if (name == "+VTS") {
        if (!voice || !m_offHook)
            return false;
        QString digits;
        int toneMs = 0;
        QByteArray list = arg.mid(1);
        for (const QByteArray &part : list.replace('{', '[').split(',')) {
            const QByteArray p = part.trimmed();
            if (p.size() == 1 && isDtmfKey(QLatin1Char(p[0])))
                digits += QLatin1Char(p[0]);
            else if (p.size() == 2 && p.startsWith('[') && isDtmfKey(QLatin1Char(p[1])))
                digits += QLatin1Char(p[1]);
            else if (p.endsWith(']') || p.endsWith('}'))
                toneMs += p.left(p.size() - 1).toInt() * 10;
        }
        deferred = true;
        if (!digits.isEmpty() && m_hCall != 0
            && m_exchange.lineGenerateDigits(m_hCall, kDigitModeDtmf, digits, 0) == 0) {
            m_pendingTones = true;
        } else {
            m_later.after(std::max(toneMs, 100), [this] { result("OK"); });
        }
        return true;
    }
    if (name == "+GMI") {
        info(m_profile.gmi);
        return true;
    }
    if (name == "+GMM" || name == "+GMR") {
        info(m_profile.ati.value(3));
        return true;
    }
    if (name == "-STE" || name == "-SCID")
        return m_profile.conexantExtensions;
    const QList<QByteArray> values = arg.mid(1).split(',');
    if (name == "+IFC") {
        if (!m_profile.acceptsIfc)
            return false;
        if (arg == "=?")
            info("(0-2),(0-2)");
        else if (arg == "?")
            info(QByteArray::number(m_flowControl) + ',' + QByteArray::number(m_flowControl));
        else if (values.value(0).toInt() >= 0 && values.value(0).toInt() <= 2)
            m_flowControl = values.value(0).toInt();
        else
            return false;
        return true;
    }
    if (name == "+VSD") {
        if (!voice)
            return false;
        if (arg == "=?") {
            info("(0-255),(0-255)");
        } else if (arg == "?") {
            info(QByteArray::number(m_vsdSensitivity) + ',' + QByteArray::number(m_vsdInterval));
        } else {
            m_vsdSensitivity = std::clamp(values.value(0).toInt(), 0, 255);
            m_vsdInterval = std::clamp(values.value(1).toInt(), 0, 255);
        }
        return true;
    }
    if (name == "+VIT") {
        if (!voice) // in data class there is no voice mode to leave
            return false;
        if (arg == "=?")
            info("(0-255)");
        else if (arg == "?")
            info(QByteArray::number(m_vit));
        else
            m_vit = std::clamp(number(), 0, 255);
        return true;
    }
    if (name == "+VDR") {
        if (arg == "=?")
            info("(0,1),(0-255)");
        else if (arg == "?")
            info(QByteArray(m_distinctiveRing ? "1" : "0") + ",0");
        else
            m_distinctiveRing = values.value(0).toInt() == 1;
        return true;
    }
    static const QList<QByteArray> accepted = {"+GCI", "+VGR", "+VGT", "+VTD", "+VRA", "+VRN", "+VNH"};
    return accepted.contains(name);
}

void EmulatedModem::reset()
{
    goOnHook();
    m_echo = true;
    m_verbose = true;
    m_fclass = 0;
    m_cml = m_profile.defaultCml;
    if (m_profile.forgetsCallerIdOnReset)
        m_callerIdMode = 0;
    m_input.clear();
    m_flowControl = 0;
    m_vit = 0;
    m_vsdSensitivity = 128;
    m_vsdInterval = 0;
    m_distinctiveRing = false;
    m_stuck = false;
}

void EmulatedModem::goOnHook()
{
    if (m_offHook && m_hCall != 0) {
        const std::uint32_t state = m_exchange.view(m_line).callState;
        if (state != 0 && state != LineCallState::Idle)
            m_exchange.lineDrop(m_hCall);
    }
    m_offHook = false;
    m_pendingDial = false;
    m_pendingTones = false;
    m_state = State::Command;
    m_stuck = false;
    m_farEndGoneAt = -1;
    m_audioTimer->setEnabled(false);
    m_txBuffer.clear();
    holdOrRelease();
}

} // namespace telvox::modemsim
