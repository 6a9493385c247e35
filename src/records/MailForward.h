#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class QTimer;

namespace telvox {

class SettingsStore;
class StatusLog;
class Texts;

// How mail reaches the SMTP server: STARTTLS on a plain connection (port 587), TLS from the
// first byte (port 465), or no encryption at all (a server on the local network).
enum class MailSecurity { StartTls, ImplicitTls, None };

// The options of section "Forward" in the settings store. The password is not among them:
// it lives in its own file of the program folder that only the owner may read.
struct ForwardOptions
{
    bool enabled = false;   // "Enabled"
    QStringList to;         // "To": addresses separated by commas or semicolons
    QString from;           // "From": empty: the user name, or "telvox@localhost"
    QString host;           // "Host"
    int port = 587;         // "Port"
    MailSecurity security = MailSecurity::StartTls; // "Security": "starttls", "tls", "none"
    QString user;           // "User"
    QString password;       // from the password file
    QString kinds = QStringLiteral("A"); // "Kinds": the mode letters that are forwarded
    bool attachWav = false; // "Attach": "wav" sends the recording as it is, else Ogg Opus
    QString caFile;         // "CaFile": certificate(s) to trust besides the system's
    int retrySeconds = 60;  // "RetrySeconds": the first retry; each further one waits twice as long

    QString sender() const;
    bool forwards(QChar mode) const { return enabled && !to.isEmpty() && !host.isEmpty() && kinds.contains(mode); }
};

// The file, in the program folder, that holds the SMTP password (owner-only permissions).
inline QString forwardPasswordFileName() { return QStringLiteral("ForwardPassword"); }

ForwardOptions readForwardOptions(const SettingsStore &settings, const QString &programFolder);
// Writes the options (the store only, not its journal) and the password file, readable and
// writable by the owner only. Returns false when the password could not be stored.
bool writeForwardOptions(SettingsStore &settings, const QString &programFolder, const ForwardOptions &options);
QString securityKey(MailSecurity security);
// Addresses as the user types them: separated by commas or semicolons, blanks around them dropped.
QStringList splitAddresses(const QString &text);
MailSecurity securityFromKey(const QString &key);

// What a mail says about a recording; written in the program's language when it is queued.
struct ForwardJob
{
    QString recordingPath;  // the recording in the recording folder
    QStringList to;
    QString subject;
    QString body;
    QString attachmentName; // the name the attachment carries ("...opus" or "...wav")
    bool attachWav = false;
    // The message's Message-ID, the same for every try: a copy the server took before a kill
    // let the program note it carries the same id as the one sent again.
    QByteArray messageId;
};

// The facts of a recording for the mail, from its file name ("A2026-12-04~08-30-15~5551234.wav").
struct RecordingFacts
{
    QChar mode;
    QDateTime when;  // invalid when the name carries no time stamp
    QString number;  // empty when the name carries none
};
RecordingFacts recordingFacts(const QString &fileName);

// The subject and body of a forwarded recording. `listedName` is the name the lists hold (a
// file name in `folder`, or a whole path); `callerName` is the phonebook's name or empty;
// `line` is -1 when unknown.
ForwardJob composeForwardJob(const Texts &texts, const ForwardOptions &options, const QString &folder,
                             const QString &listedName, const QString &callerName, int line);

// The complete message (headers, text, attachment) in RFC 5322 / MIME form with CRLF lines.
QByteArray buildMimeMessage(const QString &from, const QStringList &to, const QString &subject, const QString &body,
                            const QString &attachmentName, const QByteArray &attachmentType,
                            const QByteArray &attachment, const QDateTime &date,
                            const QByteArray &messageId = QByteArray());

// One delivery through libcurl's SMTP client. Blocking; `cancel` (may be null) ends it early.
struct SmtpResult
{
    bool ok = false;
    QString serverReply; // the server's last reply line ("550 5.1.1 no such user"), if any
    QString error;       // libcurl's account of the failure
    bool serverRefused() const { return !ok && !serverReply.isEmpty() && !serverReply.startsWith(QLatin1Char('2'))
                                        && !serverReply.startsWith(QLatin1Char('3')); }
};
SmtpResult sendSmtp(const ForwardOptions &server, const QStringList &to, const QByteArray &message,
                    const std::atomic<bool> *cancel = nullptr);

class MailQueueWorker;
class MessageStore;

// Forwarding of new recordings by e-mail. A recording that enters the lists becomes a job in
// the message store's mail queue at once (on the user-interface thread, one transaction); a
// worker thread turns one job at a time into a message (the recording converted to Ogg Opus,
// the file on disk untouched) and delivers it, and the outcome goes back into the store on
// this thread. Temporary failures are retried with growing pauses (at most an hour apart),
// the time of the next try kept in the store so that a restart keeps to it; a permanent
// refusal (5xx) or a recording that cannot be read marks the job failed in the queue. A kill
// or restart resumes with exactly the jobs not yet taken by the server. Outcomes reach the
// status list and the log.
class MailForwarder final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        StatusLog &status;
        MessageStore &store;
        // The phonebook's name of a number; empty when it has none.
        std::function<QString(const QString &)> nameOf;
    };
    MailForwarder(Services services, ForwardOptions options, QObject *parent = nullptr);
    ~MailForwarder() override;

    // Starts the worker, which sends whatever the queue holds from earlier runs.
    void start();
    // Ends the worker: a delivery under way is broken off and stays queued.
    void stop();

    // A recording entered the lists (a file name in `folder`, or a whole path): queued when its
    // kind is forwarded. Returns whether it was.
    bool recordingListed(const QString &folder, const QString &listedName, int line = -1);

    const ForwardOptions &options() const { return m_options; }
    // The password file was changed: deliveries from now on use `password`, and what waits
    // in the queue is tried again at once.
    void setPassword(const QString &password);
    // Jobs waiting in the queue (not those marked failed).
    int queuedCount() const;

signals:
    // Emitted on this object's thread after each outcome (for views and tests).
    void mailSent(const QString &subject);
    void mailFailed(const QString &reason);
    // The server refused a message for good (a 5xx reply): it is not tried again. `text` is
    // the status line that says so, for a notification.
    void mailRefused(const QString &text);

private:
    // Hands the next due job to the worker, or waits for the next one to fall due.
    void pump();
    void finished(qint64 id, int kind, const QString &detail);
    void report(int kind, const QString &to, const QString &detail, int retrySeconds);

    Services m_s;
    ForwardOptions m_options;
    std::unique_ptr<QThread> m_thread;
    MailQueueWorker *m_worker = nullptr; // lives on m_thread; deleted when it ends
    QTimer *m_due = nullptr;              // the next job that waits for its time
    qint64 m_inFlight = 0;                // the job the worker has (0: none)
};

// Moves the queue folder of an earlier version ("MailQueue": "*.job" waiting, "*.failed" and
// "failed/*.job" given up) into the store's queue in one transaction; only after its commit is
// the folder renamed to "MailQueue.migrated". A job taken in before (a kill before the rename)
// is not entered twice. Returns how many jobs were moved (0 when there was no folder), or -1
// when the store or the rename failed (the folder stays for the next start); `error` says why.
int migrateMailQueue(MessageStore &store, const QString &queueFolder, QString *error = nullptr);

// A test message with the given options, sent on a thread of its own; `done` runs on the
// thread of `context` with the outcome.
void sendTestMail(const ForwardOptions &options, const QString &subject, const QString &body, QObject *context,
                  std::function<void(const SmtpResult &)> done);

} // namespace telvox
