// Forwarding by mail: the options of section "Forward" and the mail made of a recording.

#include "records/MailForward.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "records/MailAttachment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>

namespace telvox {

namespace {

const QString kSection = QStringLiteral("Forward");

// The text numbers of the mail.
enum TextId {
    SubjectMessage = 1901,
    SubjectConversation = 1902,
    SubjectCall = 1903,
    BodyCaller = 1904,
    BodyWhen = 1905,
    BodyDuration = 1906,
    BodyLine = 1907,
    BodyAttached = 1908,
    BodyFooter = 1909,
    UnknownCaller = 1910,
};

QString durationText(std::int64_t ms)
{
    const std::int64_t seconds = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// A header value: as it is when plain ASCII, otherwise RFC 2047 encoded words of UTF-8
// (each at most 75 characters, never splitting a character).
QByteArray headerText(const QString &text)
{
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (ascii)
        return text.toLatin1();
    QByteArray out;
    QByteArray word;
    auto flush = [&] {
        if (word.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + word.toBase64() + "?=";
        word.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray piece = text.mid(i, n).toUtf8();
        if (word.size() + piece.size() > 45)
            flush();
        word += piece;
        i += n - 1;
    }
    flush();
    return out;
}

QByteArray base64Lines(const QByteArray &data)
{
    const QByteArray b64 = data.toBase64();
    QByteArray out;
    out.reserve(b64.size() + b64.size() / 76 * 2 + 2);
    for (qsizetype at = 0; at < b64.size(); at += 76)
        out += b64.mid(at, 76) + "\r\n";
    return out;
}

} // namespace

QStringList splitAddresses(const QString &text)
{
    QStringList out;
    for (const QString &part : text.split(QRegularExpression(QStringLiteral("[,;]")), Qt::SkipEmptyParts)) {
        const QString address = part.trimmed();
        if (!address.isEmpty())
            out << address;
    }
    return out;
}

// --- Options ----------------------------------------------------------------------------------

QString ForwardOptions::sender() const
{
    if (!from.isEmpty())
        return from;
    if (user.contains(QLatin1Char('@')))
        return user;
    return QStringLiteral("telvox@localhost");
}

QString securityKey(MailSecurity security)
{
    switch (security) {
    case MailSecurity::ImplicitTls:
        return QStringLiteral("tls");
    case MailSecurity::None:
        return QStringLiteral("none");
    case MailSecurity::StartTls:
        break;
    }
    return QStringLiteral("starttls");
}

MailSecurity securityFromKey(const QString &key)
{
    const QString k = key.trimmed().toLower();
    if (k == QLatin1String("tls"))
        return MailSecurity::ImplicitTls;
    if (k == QLatin1String("none"))
        return MailSecurity::None;
    return MailSecurity::StartTls;
}

ForwardOptions readForwardOptions(const SettingsStore &settings, const QString &programFolder)
{
    auto read = [&](const char *key, const QString &fallback = QString()) {
        return settings.ReadSetting(kSection, QString::fromLatin1(key), fallback);
    };
    ForwardOptions o;
    o.enabled = read("Enabled", QStringLiteral("0")).trimmed() == QLatin1String("1");
    o.to = splitAddresses(read("To"));
    o.from = read("From").trimmed();
    o.host = read("Host").trimmed();
    o.security = securityFromKey(read("Security"));
    const int port = read("Port").trimmed().toInt();
    o.port = port > 0 && port < 65536 ? port : (o.security == MailSecurity::ImplicitTls ? 465 : 587);
    o.user = read("User").trimmed();
    const QString kinds = read("Kinds", QStringLiteral("A")).toUpper();
    o.kinds.clear();
    for (const QChar c : kinds) {
        if ((c == QLatin1Char('A') || c == QLatin1Char('M') || c == QLatin1Char('O')) && !o.kinds.contains(c))
            o.kinds += c;
    }
    o.attachWav = read("Attach").trimmed().toLower() == QLatin1String("wav");
    o.caFile = read("CaFile").trimmed();
    const int retry = read("RetrySeconds").trimmed().toInt();
    o.retrySeconds = retry > 0 ? retry : 60;
    QFile pass(QDir(programFolder).filePath(forwardPasswordFileName()));
    if (pass.open(QIODevice::ReadOnly))
        o.password = QString::fromUtf8(pass.readAll());
    return o;
}

bool writeForwardOptions(SettingsStore &settings, const QString &programFolder, const ForwardOptions &o)
{
    auto write = [&](const char *key, const QString &value) {
        settings.WriteSetting(kSection, QString::fromLatin1(key), value);
    };
    write("Enabled", o.enabled ? QStringLiteral("1") : QStringLiteral("0"));
    write("To", o.to.join(QStringLiteral(", ")));
    write("From", o.from);
    write("Host", o.host);
    write("Port", QString::number(o.port));
    write("Security", securityKey(o.security));
    write("User", o.user);
    write("Kinds", o.kinds);
    write("Attach", o.attachWav ? QStringLiteral("wav") : QStringLiteral("opus"));
    write("CaFile", o.caFile);

    // The password never goes to the store or its journal: a file of its own, created
    // readable and writable by the owner alone before anything is written into it.
    const QString path = QDir(programFolder).filePath(forwardPasswordFileName());
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (o.password.isEmpty()) {
        QFile::remove(path);
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerOnly))
        return false;
    file.setPermissions(ownerOnly); // an older file keeps its permissions on open
    const QByteArray bytes = o.password.toUtf8();
    return file.write(bytes) == bytes.size() && file.flush();
}

// --- Composition ------------------------------------------------------------------------------

RecordingFacts recordingFacts(const QString &fileName)
{
    RecordingFacts facts;
    QString base = fileName;
    if (base.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        base.chop(4);
    if (base.isEmpty())
        return facts;
    facts.mode = base.at(0);
    facts.when = QDateTime::fromString(base.mid(1, 19), QStringLiteral("yyyy-MM-dd~hh-mm-ss"));
    if (base.size() > 21 && base.at(20) == QLatin1Char('~'))
        facts.number = base.mid(21);
    return facts;
}

ForwardJob composeForwardJob(const Texts &texts, const ForwardOptions &options, const QString &folder,
                             const QString &listedName, const QString &callerName, int line)
{
    // A recording kept outside the recording folder is listed with its whole path.
    const QString path = QDir(folder).filePath(listedName);
    const QString fileName = QFileInfo(listedName).fileName();
    const RecordingFacts facts = recordingFacts(fileName);
    const bool knownNumber = !facts.number.isEmpty() && facts.number != QLatin1String("UNKNOWN");
    QString who = texts.LoadText(UnknownCaller);
    if (knownNumber)
        who = callerName.isEmpty() ? facts.number : callerName;
    const QString caller = knownNumber && !callerName.isEmpty()
                               ? QStringLiteral("%1 (%2)").arg(callerName, facts.number)
                               : who;
    const QString when = facts.when.isValid() ? facts.when.toString(QStringLiteral("yyyy-MM-dd hh:mm")) : QString();
    const QString duration = durationText(recordingLengthMs(path));
    const int subjectId = facts.mode == QLatin1Char('M')   ? SubjectConversation
                          : facts.mode == QLatin1Char('O') ? SubjectCall
                                                           : SubjectMessage;

    ForwardJob job;
    job.recordingPath = path;
    job.to = options.to;
    job.attachWav = options.attachWav;
    job.subject = texts.LoadText(subjectId).arg(who, when, duration);
    QStringList body;
    body << texts.LoadText(BodyCaller).arg(caller);
    if (facts.when.isValid())
        body << texts.LoadText(BodyWhen).arg(facts.when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    body << texts.LoadText(BodyDuration).arg(duration);
    if (line >= 0)
        body << texts.LoadText(BodyLine).arg(QStringLiteral("Line") + QString::number(line));
    QString base = fileName;
    if (base.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        base.chop(4);
    job.attachmentName = options.attachWav ? fileName : base + QStringLiteral(".opus");
    body << QString() << texts.LoadText(BodyAttached).arg(job.attachmentName) << QString()
         << texts.LoadText(BodyFooter);
    job.body = body.join(QLatin1Char('\n'));
    return job;
}

QByteArray buildMimeMessage(const QString &from, const QStringList &to, const QString &subject, const QString &body,
                            const QString &attachmentName, const QByteArray &attachmentType,
                            const QByteArray &attachment, const QDateTime &date, const QByteArray &messageId)
{
    const QByteArray boundary = "=_telvox_" + QUuid::createUuid().toByteArray(QUuid::Id128);
    QByteArray m;
    m += "From: Telvox <" + from.toUtf8() + ">\r\n";
    m += "To: " + to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    m += "Subject: " + headerText(subject) + "\r\n";
    m += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    m += "Message-ID: <" + (messageId.isEmpty() ? QUuid::createUuid().toByteArray(QUuid::Id128) : messageId)
         + "@telvox>\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "X-Mailer: Telvox\r\n";
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    if (attachment.isEmpty()) {
        m += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        m += base64Lines(text.toUtf8());
        return m;
    }
    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    m += "--" + boundary + "\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    m += base64Lines(text.toUtf8());
    m += "--" + boundary + "\r\n";
    const QByteArray name = attachmentName.toUtf8().replace('"', '_').replace('\\', '_');
    m += "Content-Type: " + attachmentType + "; name=\"" + name + "\"\r\n";
    m += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
    m += "Content-Transfer-Encoding: base64\r\n\r\n";
    m += base64Lines(attachment);
    m += "--" + boundary + "--\r\n";
    return m;
}

} // namespace telvox
