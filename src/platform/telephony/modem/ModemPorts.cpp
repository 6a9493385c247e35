#include "platform/telephony/modem/ModemPorts.h"

#include "core/Settings.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <unistd.h>

namespace telvox::modem {

namespace {

const QString kSection = QString::fromLatin1(kModemSection);

// Lock files are named after the device below /dev: "LCK..ttyACM0", "LCK..pts_3".
QString lockFileBase(const QString &path)
{
    QString device = QFileInfo(path).canonicalFilePath();
    if (device.startsWith(QLatin1String("/dev/")))
        device = device.mid(5);
    return device.replace(QLatin1Char('/'), QLatin1Char('_'));
}

bool lockedByAnotherProgram(const QString &path)
{
    const QString base = lockFileBase(path);
    if (base.isEmpty())
        return false;
    for (const QString &dir : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")}) {
        QFile lock(dir + QStringLiteral("/LCK..") + base);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        // UUCP lock files hold the PID alone (ASCII, padded); Qt's lock files hold it on the
        // first of three lines.
        const qint64 pid = QString::fromLatin1(lock.readLine()).trimmed().toLongLong(&ok);
        if (ok && pid > 0 && pid != ::getpid() && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
            return true;
    }
    return false;
}

// Sends one command and collects the reply lines until OK or ERROR; `received`, when given,
// counts every byte that came meanwhile (a modem streaming voice data answers with a flood).
// With echo on (the modems' default) the reply starts after this command's own echo, so a
// late answer to an earlier command is not taken for this one's.
QList<QByteArray> ask(QSerialPort &port, const QByteArray &command, int timeoutMs, bool *ok,
                      qsizetype *received = nullptr)
{
    *ok = false;
    const QByteArray stale = port.readAll();
    if (received)
        *received += stale.size();
    port.write(command + '\r');
    port.waitForBytesWritten(timeoutMs);
    QByteArray buffer;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (!port.waitForReadyRead(static_cast<int>(std::max<qint64>(1, timeoutMs - clock.elapsed()))))
            continue;
        const QByteArray more = port.readAll();
        if (received)
            *received += more.size();
        buffer += more;
        const qsizetype echo = buffer.lastIndexOf(command + '\r');
        const QByteArray reply = echo >= 0 ? buffer.mid(echo + command.size() + 1) : buffer;
        QList<QByteArray> lines;
        for (const QByteArray &l : reply.split('\n')) {
            const QByteArray t = l.trimmed();
            if (!t.isEmpty() && !t.startsWith("AT"))
                lines << t;
        }
        if (!lines.isEmpty() && (lines.back() == "OK" || lines.back() == "ERROR")) {
            *ok = lines.back() == "OK";
            lines.removeLast();
            return lines;
        }
    }
    return {};
}

// Reads and throws away whatever arrives during `ms`; returns how many bytes that was.
qsizetype discard(QSerialPort &port, int ms)
{
    qsizetype bytes = port.readAll().size();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (port.waitForReadyRead(static_cast<int>(std::max<qint64>(1, ms - clock.elapsed()))))
            bytes += port.readAll().size();
    }
    return bytes;
}

// A modem that did not answer "AT": perhaps still streaming voice data for a program that died
// in a call, taking every command for audio. Stopped as the line stops it at open; true once
// it answers again, with `evidence` the bytes it sent meanwhile.
bool bringBack(QSerialPort &port, int timeoutMs, qsizetype &evidence)
{
    constexpr int kAttempts = 2;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // With DTR dropped a modem set up as usual (&D2) hangs up (a pseudo-terminal has no
        // DTR: the stop codes alone must do).
        port.setDataTerminalReady(false);
        evidence += discard(port, 200);
        port.setDataTerminalReady(true);
        // Transmit (cleared, then ended), receive (aborted), duplex; ignored in command state.
        port.write(QByteArray("!^", 8));
        port.waitForBytesWritten(timeoutMs);
        evidence += discard(port, 400);
        bool ok = false;
        ask(port, "ATH0", timeoutMs, &ok);
        ask(port, "AT", timeoutMs, &ok);
        if (ok)
            return true;
    }
    return false;
}

} // namespace

ModemConfig readModemConfig(const SettingsStore &store)
{
    ModemConfig config;
    for (int i = 0; i < 4; ++i) {
        config.ports << store.ReadSetting(kSection, QStringLiteral("Port%1").arg(i)).trimmed();
        config.profiles << store.ReadSetting(kSection, QStringLiteral("Profile%1").arg(i)).trimmed();
    }
    while (!config.ports.isEmpty() && config.ports.back().isEmpty())
        config.ports.removeLast();
    config.probe = store.ReadSetting(kSection, QStringLiteral("Probe"), QStringLiteral("1")).trimmed() != QLatin1String("0");
    const int speed = parseLenientInt(store.ReadSetting(kSection, QStringLiteral("Speed"), QStringLiteral("115200")));
    config.speed = speed > 0 ? speed : 115200;
    config.country = store.ReadSetting(kSection, QStringLiteral("Country")).trimmed();
    return config;
}

void writeModemPorts(SettingsStore &store, const QStringList &ports)
{
    for (int i = 0; i < 4; ++i)
        store.WriteSetting(kSection, QStringLiteral("Port%1").arg(i), i < ports.size() ? ports[i] : QString());
}

ModemNotice describeOpenError(const QString &path, int serialError, const QString &detail)
{
    switch (static_cast<QSerialPort::SerialPortError>(serialError)) {
    case QSerialPort::PermissionError: {
        // Qt reports a port locked by another program (its lock file under /run/lock) as a
        // permission error too: only a device this account cannot read and write is a
        // matter of the dialout group.
        const QString device = QFileInfo(path).canonicalFilePath();
        const QByteArray native = QFile::encodeName(device.isEmpty() ? path : device);
        if (QFileInfo::exists(path) && ::access(native.constData(), R_OK | W_OK) != 0)
            return {notice::kNoPermission, {path}};
        return {notice::kBusyModemManager, {path}};
    }
    case QSerialPort::DeviceNotFoundError:
        return {notice::kNotPlugged, {path}};
    case QSerialPort::OpenError:
        return {notice::kInUse, {path}};
    default:
        return {notice::kCannotOpenWhy, {path, detail}};
    }
}

PortOpener serialPortOpener(const QString &path, int speed)
{
    return [path, speed](PortOpenError &error) -> std::unique_ptr<QIODevice> {
        auto port = std::make_unique<QSerialPort>();
        port->setPortName(QFileInfo(path).canonicalFilePath().isEmpty() ? path : QFileInfo(path).canonicalFilePath());
        if (!QFileInfo::exists(path)) {
            error.notice = describeOpenError(path, QSerialPort::DeviceNotFoundError, QString());
            return nullptr;
        }
        if (lockedByAnotherProgram(path)) {
            error.notice = {notice::kLocked, {path}};
            return nullptr;
        }
        if (!port->open(QIODevice::ReadWrite)) {
            error.notice = describeOpenError(path, port->error(), port->errorString());
            error.permanent = error.notice.text == notice::kNoPermission;
            return nullptr;
        }
        port->setBaudRate(speed);
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        port->setDataTerminalReady(true);
        return port;
    };
}

int linkBytesPerSecond(const QString &path, int speed)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString device = QFileInfo(canonical.isEmpty() ? path : canonical).fileName();
    const bool pseudo = canonical.startsWith(QLatin1String("/dev/pts/")); // an emulated modem
    if (device.startsWith(QLatin1String("ttyACM")) || pseudo || speed <= 0)
        return 0;
    return speed / 10;
}

QStringList probeCandidates(const QString &devRoot)
{
    QStringList candidates;
    QStringList covered;
    const QDir byId(devRoot + QStringLiteral("/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString target = QFileInfo(link.canonicalFilePath()).fileName();
        if (target.startsWith(QLatin1String("ttyACM")) || target.startsWith(QLatin1String("ttyUSB"))) {
            candidates << link.absoluteFilePath();
            covered << target;
        }
    }
    // The device folder holds hundreds of names, and every start looks: the names are compared
    // as they are, without the wildcard matching and file details of a filtered listing.
    QStringList names;
    for (QDirIterator it(devRoot, QDir::Files | QDir::System); it.hasNext();) {
        const QString name = it.nextFileInfo().fileName();
        if ((name.startsWith(QLatin1String("ttyACM")) || name.startsWith(QLatin1String("ttyUSB"))) && !covered.contains(name))
            names << name;
    }
    names.sort();
    const QDir dev(devRoot);
    for (const QString &name : std::as_const(names))
        candidates << dev.filePath(name);
    return candidates;
}

ProbeResult probePort(const QString &path, int speed, int timeoutMs)
{
    ProbeResult result;
    result.path = path;
    if (lockedByAnotherProgram(path)) {
        result.error = {notice::kLocked, {path}};
        return result;
    }
    QSerialPort port;
    port.setPortName(QFileInfo(path).canonicalFilePath().isEmpty() ? path : QFileInfo(path).canonicalFilePath());
    if (!port.open(QIODevice::ReadWrite)) {
        result.error = describeOpenError(path, port.error(), port.errorString());
        return result;
    }
    port.setBaudRate(speed);
    port.setFlowControl(QSerialPort::NoFlowControl);
    bool ok = false;
    // Whatever the modem sends before it answers (already waiting, or during the first
    // command) tells a stray result line from a voice stream left running.
    qsizetype evidence = 0;
    ask(port, "AT", timeoutMs, &ok, &evidence);
    if (!ok) {
        ok = bringBack(port, timeoutMs, evidence);
        // More than a stray result line: it was streaming voice data.
        if (ok)
            result.recovery = {evidence >= 32 ? notice::kLeftInCall : notice::kRecoveredByReset, {path}};
    }
    result.answered = ok;
    if (ok) {
        const QList<QByteArray> classes = ask(port, "AT+FCLASS=?", timeoutMs, &ok);
        result.voice = ok && parseClasses(classes).contains(QStringLiteral("8"));
        // The name is only shown to the user, so a modem slow to answer it once is asked again
        // and given longer.
        for (int attempt = 1; attempt <= 2 && result.identity.isEmpty(); ++attempt) {
            const QList<QByteArray> id = ask(port, "ATI3", timeoutMs * attempt * 2 - timeoutMs, &ok);
            if (ok && !id.isEmpty())
                result.identity = id.front();
        }
    }
    port.close();
    return result;
}

std::vector<ModemPort> modemPorts(const ModemConfig &config, QList<ModemNotice> *notes)
{
    QStringList ports = config.ports;
    if (ports.isEmpty() && config.probe) {
        for (const QString &candidate : probeCandidates()) {
            if (ports.size() >= 4)
                break;
            const ProbeResult r = probePort(candidate, config.speed);
            if (notes && !r.recovery.isEmpty())
                *notes << r.recovery;
            if (r.voice)
                ports << candidate;
            else if (notes && !r.error.isEmpty())
                *notes << r.error;
        }
    }
    std::vector<ModemPort> portList;
    for (int i = 0; i < ports.size() && i < 4; ++i) {
        if (ports[i].isEmpty())
            continue;
        ModemPort entry;
        entry.portName = ports[i];
        entry.opener = serialPortOpener(ports[i], config.speed);
        entry.options.countryCode = config.country;
        entry.options.linkBytesPerSecond = linkBytesPerSecond(ports[i], config.speed);
        entry.options.forcedProfile = i < config.profiles.size() ? config.profiles[i] : QString();
        portList.push_back(std::move(entry));
    }
    if (portList.empty() && notes)
        *notes << ModemNotice{notice::kNoModem, {}};
    return portList;
}

std::unique_ptr<ModemTelephony> createModemTelephony(EventLoop &loop, const ModemConfig &config,
                                                     QList<ModemNotice> *notes)
{
    std::vector<ModemPort> ports = modemPorts(config, notes);
    if (ports.empty())
        return nullptr;
    return std::make_unique<ModemTelephony>(loop, std::move(ports));
}

} // namespace telvox::modem
