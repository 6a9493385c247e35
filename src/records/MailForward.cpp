// Forwarding by mail: the queue folder of jobs and the worker thread that sends them, with
// retries, and the forwarder that feeds it on the user-interface thread.

#include "records/MailForward.h"

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
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QUuid>

namespace telvox {

namespace {

// The text numbers of the status lines.
enum TextId {
    StatusSent = 1911,
    StatusServerSaid = 1912,
    StatusFailed = 1913,
    StatusDropped = 1914,
    StatusRefusedForGood = 1330,
};

enum OutcomeKind { Sent = 0, ServerRefused = 1, Failed = 2, Dropped = 3, RefusedForGood = 4 };

constexpr int kLongestPauseSeconds = 3600;

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

    void setPassword(const QString &password)
    {
        m_options.password = password;
        m_attempts.clear(); // a refusal for a wrong password is not held against the new one
        wake();
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
        if (r.serverRefused() && r.serverReply.startsWith(QLatin1Char('5'))) {
            // A permanent refusal (RFC 5321: 5yz): trying again gets the same answer. The job
            // stays in the queue folder, marked failed (".failed" instead of ".job", with its
            // prepared message), until the user deals with it; the next start leaves it alone.
            const QString marked = QDir(m_folder).filePath(stem + QStringLiteral(".failed"));
            QFile::remove(marked);
            QFile::rename(jobPath, marked);
            m_attempts.remove(name);
            emit outcome(RefusedForGood, to, r.serverReply, 0);
            return;
        }
        // A temporary failure (4yz, no connection, a broken one): again after a pause that
        // doubles each time, up to an hour.
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

void MailForwarder::setPassword(const QString &password)
{
    m_options.password = password;
    if (!m_worker)
        return;
    MailQueueWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker, password] { worker->setPassword(password); }, Qt::QueuedConnection);
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
