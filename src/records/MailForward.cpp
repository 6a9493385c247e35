// Forwarding by mail: the worker thread that makes and sends one mail at a time, and the
// forwarder on the user-interface thread that keeps the queue in the message store, with
// retries.

#include "records/MailForward.h"

#include "core/Texts.h"
#include "records/MailAttachment.h"
#include "records/MessageStore.h"
#include "records/StatusLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace telvox {

namespace {

// The text numbers of the status lines.
enum TextId {
    StatusSent = 1911,
    StatusServerSaid = 1912,
    StatusFailed = 1913,
    StatusDropped = 1914,
    StatusRefusedForGood = 1330,
    StatusNotQueued = 1257,
};

enum OutcomeKind { Sent = 0, ServerRefused = 1, Failed = 2, Dropped = 3, RefusedForGood = 4 };

constexpr int kLongestPauseSeconds = 3600;

QJsonObject jobToJson(const ForwardJob &job)
{
    return QJsonObject{{QStringLiteral("recording"), job.recordingPath},
                       {QStringLiteral("to"), QJsonArray::fromStringList(job.to)},
                       {QStringLiteral("subject"), job.subject},
                       {QStringLiteral("body"), job.body},
                       {QStringLiteral("attachment"), job.attachmentName},
                       {QStringLiteral("wav"), job.attachWav},
                       {QStringLiteral("id"), QString::fromLatin1(job.messageId)}};
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
    // It goes into a header: letters, digits and dashes only.
    for (const QChar c : o.value(QStringLiteral("id")).toString().left(64)) {
        if ((c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('-'))
            job.messageId += char(c.unicode());
    }
    return job;
}

} // namespace

// --- The earlier version's queue folder ---------------------------------------------------------

int migrateMailQueue(MessageStore &store, const QString &queueFolder, QString *error)
{
    const QDir folder(queueFolder);
    if (!folder.exists())
        return 0;
    // Waiting jobs by name (the names sort in the order they were queued), then those given up.
    struct Old
    {
        QString path;
        bool failed;
    };
    QList<Old> old;
    for (const QString &name : folder.entryList({QStringLiteral("*.job")}, QDir::Files, QDir::Name))
        old << Old{folder.filePath(name), false};
    for (const QString &name : folder.entryList({QStringLiteral("*.failed")}, QDir::Files, QDir::Name))
        old << Old{folder.filePath(name), true};
    const QDir given(folder.filePath(QStringLiteral("failed")));
    for (const QString &name : given.entryList({QStringLiteral("*.job")}, QDir::Files, QDir::Name))
        old << Old{given.filePath(name), true};
    const auto held = [&store] { return int(store.mailJobs(false).size() + store.mailJobs(true).size()); };
    const int before = held();
    for (const Old &o : std::as_const(old)) {
        QFile file(o.path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = o.path + QStringLiteral(": ") + file.errorString();
            return -1;
        }
        ForwardJob job = jobFromJson(QJsonDocument::fromJson(file.readAll()).object());
        if (job.recordingPath.isEmpty())
            continue; // not a job of ours
        job.messageId = QUuid::createUuid().toByteArray(QUuid::Id128);
        const QString source = QDir(queueFolder).relativeFilePath(o.path);
        const std::optional<qint64> id = store.addMailJob(job.recordingPath, QJsonDocument(jobToJson(job)).toJson(QJsonDocument::Compact), source);
        if (!id || (o.failed && !store.mailJobFailed(*id, QString()))) {
            if (error)
                *error = store.errorText();
            return -1;
        }
    }
    const int moved = held() - before;
    // Only now, with every job in the store, does the folder leave.
    QString kept = QDir::cleanPath(queueFolder) + QStringLiteral(".migrated");
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = QDir::cleanPath(queueFolder) + QStringLiteral(".migrated-%1").arg(n);
    if (::rename(QFile::encodeName(QDir::cleanPath(queueFolder)).constData(), QFile::encodeName(kept).constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    return moved;
}

// --- The worker ---------------------------------------------------------------------------------

// Makes and sends one mail at a time, on its own thread; the queue is not its business. The
// message made for a job is kept until the job is done, so that a retry does not convert the
// recording again.
class MailQueueWorker final : public QObject
{
    Q_OBJECT
public:
    explicit MailQueueWorker(ForwardOptions options)
        : m_options(std::move(options))
    {
    }

    std::atomic<bool> cancel{false};

    void send(qint64 id, const ForwardJob &job)
    {
        const QString to = job.to.join(QStringLiteral(", "));
        if (!m_prepared.contains(id)) {
            QByteArray message;
            QString why;
            if (!prepare(job, message, why)) {
                emit finished(id, Dropped, QFileInfo(job.recordingPath).fileName() + QStringLiteral(": ") + why);
                return;
            }
            m_prepared.insert(id, message);
        }
        const SmtpResult r = sendSmtp(m_options, job.to, m_prepared.value(id), &cancel);
        if (cancel.load())
            return;
        if (r.ok) {
            m_prepared.remove(id);
            emit finished(id, Sent, job.subject);
        } else if (r.serverRefused() && r.serverReply.startsWith(QLatin1Char('5'))) {
            // A permanent refusal (RFC 5321: 5yz): trying again gets the same answer.
            m_prepared.remove(id);
            emit finished(id, RefusedForGood, r.serverReply);
        } else if (r.serverRefused()) {
            emit finished(id, ServerRefused, r.serverReply);
        } else {
            emit finished(id, Failed, r.error);
        }
    }

    void setPassword(const QString &password) { m_options.password = password; }

    // Hands the object back to `home`, where it is deleted.
    void halt(QThread *home) { moveToThread(home); }

signals:
    void finished(qint64 id, int kind, const QString &detail);

private:
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
                                   QDateTime::currentDateTime(), job.messageId);
        return true;
    }

    ForwardOptions m_options;
    QHash<qint64, QByteArray> m_prepared;
};

// --- The forwarder --------------------------------------------------------------------------------

MailForwarder::MailForwarder(Services services, ForwardOptions options, QObject *parent)
    : QObject(parent)
    , m_s(std::move(services))
    , m_options(std::move(options))
    , m_due(new QTimer(this))
{
    m_due->setSingleShot(true);
    connect(m_due, &QTimer::timeout, this, &MailForwarder::pump);
}

MailForwarder::~MailForwarder() { stop(); }

void MailForwarder::start()
{
    if (m_thread)
        return;
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("MailForwarder"));
    m_worker = new MailQueueWorker(m_options);
    m_worker->moveToThread(m_thread.get());
    connect(m_worker, &MailQueueWorker::finished, this, &MailForwarder::finished, Qt::QueuedConnection);
    m_thread->start();
    pump();
}

void MailForwarder::setPassword(const QString &password)
{
    m_options.password = password;
    // A refusal for a wrong password is not held against the new one.
    m_s.store.mailJobsDueNow();
    if (!m_worker)
        return;
    MailQueueWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker, password] { worker->setPassword(password); }, Qt::QueuedConnection);
    pump();
}

void MailForwarder::stop()
{
    m_due->stop();
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
    // An outcome the worker reported just before it ended still reaches the store; a delivery
    // broken off stays in the queue as it was.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_inFlight = 0;
}

void MailForwarder::pump()
{
    if (!m_worker || m_inFlight != 0)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    qint64 wait = -1;
    for (const MailJobState &j : m_s.store.mailJobs()) {
        // A next try further away than the longest pause means the clock was put back: due.
        const qint64 ms = j.nextTry.isValid() ? now.msecsTo(j.nextTry) : 0;
        if (ms <= 0 || ms > qint64(kLongestPauseSeconds) * 1000) {
            const ForwardJob job = jobFromJson(QJsonDocument::fromJson(j.job).object());
            m_inFlight = j.id;
            MailQueueWorker *worker = m_worker;
            const qint64 id = j.id;
            QMetaObject::invokeMethod(m_worker, [worker, id, job] { worker->send(id, job); }, Qt::QueuedConnection);
            return;
        }
        wait = wait < 0 ? ms : std::min(wait, ms);
    }
    if (wait >= 0)
        m_due->start(int(wait));
}

void MailForwarder::finished(qint64 id, int kind, const QString &detail)
{
    if (id != m_inFlight)
        return;
    m_inFlight = 0;
    const std::optional<MailJobState> state = m_s.store.mailJob(id);
    const ForwardJob job = jobFromJson(QJsonDocument::fromJson(state ? state->job : QByteArray()).object());
    const QString to = job.to.join(QStringLiteral(", "));
    int pause = 0;
    switch (kind) {
    case Sent:
        m_s.store.mailJobSent(id);
        break;
    case RefusedForGood:
    case Dropped:
        // Kept in the queue, marked failed, until the user deals with it; not tried again.
        m_s.store.mailJobFailed(id, detail);
        break;
    default: {
        // A temporary failure (4yz, no connection, a broken one): again after a pause that
        // doubles each time, up to an hour.
        const int attempts = (state ? state->attempts : 0) + 1;
        qint64 p = m_options.retrySeconds;
        for (int i = 1; i < attempts && p < kLongestPauseSeconds; ++i)
            p *= 2;
        pause = int(std::min<qint64>(p, kLongestPauseSeconds));
        m_s.store.mailJobRetry(id, attempts, QDateTime::currentDateTimeUtc().addSecs(pause), detail);
        break;
    }
    }
    report(kind, to, detail, pause);
    pump();
}

bool MailForwarder::recordingListed(const QString &folder, const QString &listedName, int line)
{
    const QString fileName = QFileInfo(listedName).fileName();
    if (fileName.isEmpty() || !m_options.forwards(fileName.at(0)))
        return false;
    const RecordingFacts facts = recordingFacts(fileName);
    const QString name = m_s.nameOf && !facts.number.isEmpty() ? m_s.nameOf(facts.number) : QString();
    ForwardJob job = composeForwardJob(m_s.texts, m_options, folder, listedName, name, line);
    job.messageId = QUuid::createUuid().toByteArray(QUuid::Id128);
    if (!m_s.store.addMailJob(job.recordingPath, QJsonDocument(jobToJson(job)).toJson(QJsonDocument::Compact))) {
        m_s.status.AddAlarm(m_s.texts.LoadText(StatusNotQueued).arg(fileName, m_s.store.errorText()));
        return false;
    }
    pump();
    return true;
}

int MailForwarder::queuedCount() const { return int(m_s.store.mailJobs().size()); }

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
    case RefusedForGood: {
        const QString text = m_s.texts.LoadText(StatusRefusedForGood).arg(to, detail);
        m_s.status.AddStatus(text);
        emit mailRefused(text);
        break;
    }
    default:
        m_s.status.AddStatus(m_s.texts.LoadText(StatusDropped).arg(detail));
        break;
    }
    emit mailFailed(detail);
}

} // namespace telvox

#include "MailForward.moc"
