#include "records/MailForward.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "records/MailAttachment.h"
#include "records/StatusLog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <curl/curl.h>

#include <cstring>
#include <mutex>
#include <thread>

namespace telvox {

namespace {

const QString kSection = QStringLiteral("Forward");

// The text numbers of the mail and of its status lines.
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
    StatusSent = 1911,
    StatusServerSaid = 1912,
    StatusFailed = 1913,
    StatusDropped = 1914,
};

enum OutcomeKind { Sent = 0, ServerRefused = 1, Failed = 2, Dropped = 3 };

constexpr int kLongestPauseSeconds = 3600;

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

namespace {

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QJsonObject jobToJson(const ForwardJob &job)
{
    return QJsonObject{{QStringLiteral("recording"), job.recordingPath},
                       {QStringLiteral("to"), QJsonArray::fromStringList(job.to)},
                       {QStringLiteral("subject"), job.subject},
                       {QStringLiteral("body"), job.body},
                       {QStringLiteral("attachment"), job.attachmentName},
                       {QStringLiteral("wav"), job.attachWav}};
}

ForwardJob jobFromJson(const QJsonObject &o)
{
    ForwardJob job;
    job.recordingPath = o.value(QStringLiteral("recording")).toString();
    for (const QJsonValue &v : o.value(QStringLiteral("to")).toArray())
        job.to << v.toString();
    job.subject = o.value(QStringLiteral("subject")).toString();
    job.body = o.value(QStringLiteral("body")).toString();
    job.attachmentName = o.value(QStringLiteral("attachment")).toString();
    job.attachWav = o.value(QStringLiteral("wav")).toBool();
    return job;
}

} // namespace

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
                            const QByteArray &attachment, const QDateTime &date)
{
    const QByteArray boundary = "=_telvox_" + QUuid::createUuid().toByteArray(QUuid::Id128);
    QByteArray m;
    m += "From: Telvox <" + from.toUtf8() + ">\r\n";
    m += "To: " + to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    m += "Subject: " + headerText(subject) + "\r\n";
    m += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    m += "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::Id128) + "@telvox>\r\n";
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

// --- SMTP through libcurl -----------------------------------------------------------------------

namespace {

struct Upload
{
    const QByteArray *message = nullptr;
    qsizetype sent = 0;
};

std::size_t readMessage(char *buffer, std::size_t size, std::size_t count, void *user)
{
    auto *up = static_cast<Upload *>(user);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = std::min(room, up->message->size() - up->sent);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, up->message->constData() + up->sent, static_cast<std::size_t>(n));
    up->sent += n;
    return static_cast<std::size_t>(n);
}

// Keeps the server's last reply line: what the user is told when the server refuses.
int watchReplies(CURL *, curl_infotype type, char *data, std::size_t size, void *user)
{
    if (type == CURLINFO_HEADER_IN) {
        const QString line = QString::fromUtf8(data, static_cast<qsizetype>(size)).trimmed();
        if (!line.isEmpty())
            *static_cast<QString *>(user) = line;
    }
    return 0;
}

int checkCancel(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *cancel = static_cast<const std::atomic<bool> *>(user);
    return cancel && cancel->load() ? 1 : 0;
}

struct CurlDeleter
{
    void operator()(CURL *c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter
{
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};

} // namespace

SmtpResult sendSmtp(const ForwardOptions &server, const QStringList &to, const QByteArray &message,
                    const std::atomic<bool> *cancel)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    SmtpResult result;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        result.error = QStringLiteral("libcurl could not start");
        return result;
    }
    QString host = server.host;
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QByteArray url = (server.security == MailSecurity::ImplicitTls ? QByteArray("smtps://")
                                                                          : QByteArray("smtp://"))
                           + host.toUtf8() + ':' + QByteArray::number(server.port) + "/telvox.localdomain";
    const QByteArray from = '<' + server.sender().toUtf8() + '>';
    curl_slist *list = nullptr;
    for (const QString &address : to) {
        if (curl_slist *head = curl_slist_append(list, ('<' + address.toUtf8() + '>').constData()))
            list = head;
    }
    const std::unique_ptr<curl_slist, SlistDeleter> rcpt(list);
    const QByteArray user = server.user.toUtf8();
    const QByteArray password = server.password.toUtf8();
    const QByteArray caFile = server.caFile.toUtf8();
    Upload upload{&message, 0};
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CURL *c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &readMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(c, CURLOPT_USE_SSL,
                     server.security == MailSecurity::StartTls ? long(CURLUSESSL_ALL) : long(CURLUSESSL_NONE));
    if (!user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    if (!caFile.isEmpty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 600L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L); // the debug callback below sees the server's replies
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &watchReplies);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &result.serverReply);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &checkCancel);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(cancel));

    const CURLcode code = curl_easy_perform(c);
    result.ok = code == CURLE_OK;
    if (!result.ok) {
        result.error = QString::fromUtf8(errorBuffer).trimmed();
        if (result.error.isEmpty())
            result.error = QString::fromUtf8(curl_easy_strerror(code));
    }
    return result;
}

// --- The worker ---------------------------------------------------------------------------------

class MailQueueWorker final : public QObject
{
    Q_OBJECT
public:
    MailQueueWorker(QString folder, ForwardOptions options)
        : m_folder(std::move(folder))
        , m_options(std::move(options))
    {
    }

    std::atomic<bool> cancel{false};

    // One pass over the queue: every job that is due is prepared and sent, oldest first.
    void wake()
    {
        if (!m_timer) {
            m_clock.start();
            m_timer = new QTimer(this);
            m_timer->setSingleShot(true);
            connect(m_timer, &QTimer::timeout, this, &MailQueueWorker::wake);
        }
        m_timer->stop();
        const QStringList jobs = QDir(m_folder).entryList({QStringLiteral("*.job")}, QDir::Files, QDir::Name);
        for (const QString &name : jobs) {
            if (cancel.load())
                return;
            const Attempts a = m_attempts.value(name);
            if (a.due > m_clock.elapsed())
                continue;
            process(name);
        }
        scheduleNext();
    }

    // Ends the work on the worker's own thread and hands the object back to `home`.
    void halt(QThread *home)
    {
        if (m_timer)
            m_timer->stop();
        moveToThread(home);
    }

signals:
    void outcome(int kind, const QString &to, const QString &detail, int retrySeconds);

private:
    struct Attempts
    {
        int count = 0;
        qint64 due = 0;
    };

    void process(const QString &name)
    {
        const QString jobPath = QDir(m_folder).filePath(name);
        QString stem = name;
        stem.chop(4);
        const QString messagePath = QDir(m_folder).filePath(stem + QStringLiteral(".eml"));
        QFile jobFile(jobPath);
        if (!jobFile.open(QIODevice::ReadOnly))
            return;
        const ForwardJob job = jobFromJson(QJsonDocument::fromJson(jobFile.readAll()).object());
        jobFile.close();
        const QString to = job.to.join(QStringLiteral(", "));

        QByteArray message;
        QFile prepared(messagePath);
        if (prepared.open(QIODevice::ReadOnly)) {
            message = prepared.readAll();
        } else {
            QString why;
            if (!prepare(job, message, why)) {
                // Without its recording the mail can never be sent: it is set aside, not lost.
                const QString failed = QDir(m_folder).filePath(QStringLiteral("failed"));
                QDir().mkpath(failed);
                QFile::rename(jobPath, QDir(failed).filePath(name));
                m_attempts.remove(name);
                emit outcome(Dropped, to, QFileInfo(job.recordingPath).fileName() + QStringLiteral(": ") + why, 0);
                return;
            }
            writeFileAtomically(messagePath, message);
        }

        const SmtpResult r = sendSmtp(m_options, job.to, message, &cancel);
        if (cancel.load())
            return;
        if (r.ok) {
            QFile::remove(messagePath);
            QFile::remove(jobPath);
            m_attempts.remove(name);
            emit outcome(Sent, to, job.subject, 0);
            return;
        }
        Attempts &a = m_attempts[name];
        ++a.count;
        qint64 pause = m_options.retrySeconds;
        for (int i = 1; i < a.count && pause < kLongestPauseSeconds; ++i)
            pause *= 2;
        pause = std::min<qint64>(pause, kLongestPauseSeconds);
        a.due = m_clock.elapsed() + pause * 1000;
        if (r.serverRefused())
            emit outcome(ServerRefused, to, r.serverReply, int(pause));
        else
            emit outcome(Failed, to, r.error, int(pause));
    }

    bool prepare(const ForwardJob &job, QByteArray &message, QString &why)
    {
        QByteArray attachment;
        QByteArray type;
        if (job.attachWav) {
            QFile wav(job.recordingPath);
            if (!wav.open(QIODevice::ReadOnly)) {
                why = wav.errorString();
                return false;
            }
            attachment = wav.readAll();
            type = "audio/wav";
        } else {
            const auto audio = readRecordingAudio(job.recordingPath, &why);
            if (!audio)
                return false;
            attachment = encodeOggOpus(*audio, job.subject);
            if (attachment.isEmpty()) {
                why = QStringLiteral("the Opus encoder refused the audio");
                return false;
            }
            type = "audio/ogg";
        }
        message = buildMimeMessage(m_options.sender(), job.to, job.subject, job.body, job.attachmentName, type, attachment,
                                   QDateTime::currentDateTime());
        return true;
    }

    void scheduleNext()
    {
        qint64 next = -1;
        const QStringList jobs = QDir(m_folder).entryList({QStringLiteral("*.job")}, QDir::Files, QDir::Name);
        for (const QString &name : jobs) {
            const qint64 due = m_attempts.value(name).due;
            if (next < 0 || due < next)
                next = due;
        }
        if (next >= 0)
            m_timer->start(static_cast<int>(std::clamp<qint64>(next - m_clock.elapsed(), 0, kLongestPauseSeconds * 1000)));
    }

    QString m_folder;
    ForwardOptions m_options;
    QTimer *m_timer = nullptr;
    QElapsedTimer m_clock;
    QHash<QString, Attempts> m_attempts;
};

// --- The forwarder --------------------------------------------------------------------------------

MailForwarder::MailForwarder(Services services, ForwardOptions options, QObject *parent)
    : QObject(parent)
    , m_s(std::move(services))
    , m_options(std::move(options))
{
}

MailForwarder::~MailForwarder() { stop(); }

void MailForwarder::start()
{
    if (m_thread)
        return;
    QDir().mkpath(m_s.queueFolder);
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("MailForwarder"));
    m_worker = new MailQueueWorker(m_s.queueFolder, m_options);
    m_worker->moveToThread(m_thread.get());
    connect(m_worker, &MailQueueWorker::outcome, this, &MailForwarder::report, Qt::QueuedConnection);
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, &MailQueueWorker::wake, Qt::QueuedConnection);
}

void MailForwarder::stop()
{
    if (!m_thread)
        return;
    m_worker->cancel = true;
    QThread *home = thread();
    MailQueueWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker, home] { worker->halt(home); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    m_worker = nullptr;
    m_thread.reset();
}

bool MailForwarder::recordingListed(const QString &folder, const QString &listedName, int line)
{
    const QString fileName = QFileInfo(listedName).fileName();
    if (fileName.isEmpty() || !m_options.forwards(fileName.at(0)))
        return false;
    const RecordingFacts facts = recordingFacts(fileName);
    const QString name = m_s.nameOf && !facts.number.isEmpty() ? m_s.nameOf(facts.number) : QString();
    const ForwardJob job = composeForwardJob(m_s.texts, m_options, folder, listedName, name, line);
    QDir().mkpath(m_s.queueFolder);
    // Names sort in the order the recordings arrived, across restarts too.
    const QString stem = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"))
                         + QStringLiteral("-%1").arg(++m_sequence, 4, 10, QLatin1Char('0'));
    if (!writeFileAtomically(QDir(m_s.queueFolder).filePath(stem + QStringLiteral(".job")),
                             QJsonDocument(jobToJson(job)).toJson()))
        return false;
    if (m_worker)
        QMetaObject::invokeMethod(m_worker, &MailQueueWorker::wake, Qt::QueuedConnection);
    return true;
}

int MailForwarder::queuedCount() const
{
    return static_cast<int>(QDir(m_s.queueFolder).entryList({QStringLiteral("*.job")}, QDir::Files).size());
}

void MailForwarder::report(int kind, const QString &to, const QString &detail, int retrySeconds)
{
    switch (kind) {
    case Sent:
        m_s.status.AddStatus(m_s.texts.LoadText(StatusSent).arg(to, detail));
        emit mailSent(detail);
        return;
    case ServerRefused:
        m_s.status.AddStatus(m_s.texts.LoadText(StatusServerSaid).arg(to, detail).arg(retrySeconds));
        break;
    case Failed:
        m_s.status.AddStatus(m_s.texts.LoadText(StatusFailed).arg(to, detail).arg(retrySeconds));
        break;
    default:
        m_s.status.AddStatus(m_s.texts.LoadText(StatusDropped).arg(detail));
        break;
    }
    emit mailFailed(detail);
}

void sendTestMail(const ForwardOptions &options, const QString &subject, const QString &body, QObject *context,
                  std::function<void(const SmtpResult &)> done)
{
    QPointer<QObject> receiver(context);
    std::thread([options, subject, body, receiver, done = std::move(done)] {
        const QByteArray message = buildMimeMessage(options.sender(), options.to, subject, body, QString(), {}, {},
                                                    QDateTime::currentDateTime());
        const SmtpResult result = sendSmtp(options, options.to, message);
        if (receiver)
            QMetaObject::invokeMethod(receiver.data(), [receiver, done, result] {
                if (receiver)
                    done(result);
            }, Qt::QueuedConnection);
    }).detach();
}

} // namespace telvox

#include "MailForward.moc"
