#pragma once

#include "platform/telephony/modem/ModemTelephony.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace telvox {
class SettingsStore;
}

namespace telvox::modem {

// Where the voice modems are, as the settings store keeps it (section "VoiceModem"):
//   Port0 .. Port3  the serial port of each line ("/dev/serial/by-id/usb-..." preferred);
//                   a line with an empty port is not a modem line
//   Probe           "1" (default): when no port is listed, look for voice modems on
//                   /dev/ttyACM* and /dev/ttyUSB* and use what answers
//   Speed           port speed in bit/s (default 115200; 230400 for 16-bit audio on RS-232)
//   Country         T.35 country code for AT+GCI (caller-ID standard), empty: as the modem has it
//   Profile0 .. 3   force a chip profile (conexant, usr, agere, generic); empty: by identification
struct ModemConfig
{
    QStringList ports; // one per line, in line order
    bool probe = true;
    int speed = 115200;
    QString country;
    QStringList profiles;
};

inline constexpr const char *kModemSection = "VoiceModem";

ModemConfig readModemConfig(const SettingsStore &store);
void writeModemPorts(SettingsStore &store, const QStringList &ports);

// A serial-port opener: raw 8N1 at `speed`, no flow control. Errors are explained for the
// user (a missing dialout group membership is explained, not shown as a code).
PortOpener serialPortOpener(const QString &path, int speed);
ModemNotice describeOpenError(const QString &path, int serialError, const QString &detail);

// How many bytes a second the port can carry at `speed` (8N1: ten bits a byte), or 0 when
// the speed means nothing: a USB modem of the communications class (ttyACM) moves its data at
// USB speed whatever the setting, and a pseudo-terminal has no line at all. Only ttyUSB
// adapters and real serial ports are limited.
int linkBytesPerSecond(const QString &path, int speed);

// The candidates of the probe: the stable /dev/serial/by-id names of the ACM and USB serial
// ports first, then the /dev/ttyACM* and /dev/ttyUSB* devices no by-id name points to.
// `devRoot` is "/dev" except in tests.
QStringList probeCandidates(const QString &devRoot = QStringLiteral("/dev"));

// What the probe found on one port.
struct ProbeResult
{
    QString path;
    bool answered = false; // something answered "AT" with OK
    bool voice = false;    // AT+FCLASS=? lists class 8
    QByteArray identity;   // ATI3
    ModemNotice error;     // why the port could not be asked
    // The modem answered only after it was stopped: it was still streaming voice data for a
    // program that died in a call (kLeftInCall), or answered after DTR was dropped and the
    // command repeated (kRecoveredByReset). Empty when it answered at once.
    ModemNotice recovery;
};

// Asks one port, politely: skipped when a UUCP lock file says another program uses it,
// opened without waiting, then only "AT", "AT+FCLASS=?" and "ATI3" (no reset, nothing stored),
// each with a short timeout, and closed again. A modem that does not answer "AT" is brought
// back to command state first, as the line does at open: DTR dropped, the stop codes of every
// voice data state, a pause whose input is thrown away, "ATH0", then "AT" again (twice).
ProbeResult probePort(const QString &path, int speed = 115200, int timeoutMs = 700);

// The ports of the configured lines, or of the probe's voice modems when none is configured.
// `notes` collects what the user should read in the status list.
std::vector<ModemPort> modemPorts(const ModemConfig &config, QList<ModemNotice> *notes);

// The backend for the configured (or probed) modems, not yet started (set its status handler,
// then start it); nullptr when there is none and the virtual exchange is to be used (`notes`
// says so).
std::unique_ptr<ModemTelephony> createModemTelephony(EventLoop &loop, const ModemConfig &config,
                                                     QList<ModemNotice> *notes);

} // namespace telvox::modem
