#include "audio/RecordingKeeper.h"

#include "audio/RecordingJournal.h"
#include "core/EventLoop.h"
#include "core/PrivateFiles.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvox {

namespace {

// Texts of this component.
constexpr int kFoundText = 1790;
constexpr int kGoneText = 1791;
constexpr int kFolderAwayText = 1792;
constexpr int kFolderBackText = 1793;
constexpr int kNotListedText = 1795;
constexpr int kListedLaterText = 1798;

const QString kDeviceKey = QStringLiteral("recordings-device");
const QString kFolderKey = QStringLiteral("recordings-folder");

QString folderText(const QString &folder) { return QDir::toNativeSeparators(QDir::cleanPath(folder)); }

QByteArray native(const QString &path) { return QFile::encodeName(path); }

// A name the program gives its recordings ("A2026-12-04~08-30-15~5551234.wav", "..._2.wav").
bool isRecordingName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[AMO]\\d{4}-\\d\\d-\\d\\d~\\d\\d-\\d\\d-\\d\\d(~[^/]*)?\\.wav$"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(name).hasMatch();
}

// The device of the nearest existing folder at or above `path`.
std::optional<dev_t> deviceAbove(QString path)
{
    for (int depth = 0; depth < 64 && !path.isEmpty(); ++depth) {
        struct stat st = {};
        if (::stat(native(path).constData(), &st) == 0)
            return st.st_dev;
        const QString up = QFileInfo(path).path();
        if (up == path)
            break;
        path = up;
    }
    return std::nullopt;
}

} // namespace

int recordingSeconds(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray head = file.read(22);
    if (head.size() < 22 || !head.startsWith("RIFF"))
        return 0;
    const quint16 tag = qFromLittleEndian<quint16>(head.constData() + 20);
    const qint64 size = file.size();
    if (tag == 1)
        return int(std::max<qint64>(0, size - waveHeader(OutputFormat::Pcm, 0).size()) / 16000);
    if (tag == 0x22) // 32 bytes carry 240 samples at 8000 Hz
        return int(std::max<qint64>(0, size - waveHeader(OutputFormat::TrueSpeech, 0).size()) * 240 / 32 / 8000);
    return 0;
}

RecordingKeeper::RecordingKeeper(Services services, QString recording, QString fallback)
    : m_s(services)
    , m_recording(std::move(recording))
    , m_fallback(std::move(fallback))
{
    m_watch = m_s.loop.createTimer(kWatchMs, [this] { watchTick(); });
}

RecordingKeeper::~RecordingKeeper() { *m_alive = false; }

void RecordingKeeper::setFolders(const QString &recording, const QString &fallback)
{
    m_recording = recording;
    m_fallback = fallback;
}

void RecordingKeeper::alarm(const QString &text, bool box)
{
    m_s.status.AddStatus(text);
    if (m_alarm)
        m_alarm(text);
    if (!box || text == m_lastBox)
        return;
    m_lastBox = text;
    std::weak_ptr<bool> alive = m_alive;
    m_s.loop.post([this, alive, text] {
        if (alive.expired())
            return;
        m_s.prompts.messageBox(text, MessageIcon::Exclamation, QStringLiteral("Telvox"));
    });
}

bool RecordingKeeper::isFallback(const QString &folder) const
{
    return !m_fallback.isEmpty() && QDir::cleanPath(folder) == QDir::cleanPath(m_fallback);
}

QString RecordingKeeper::listedName(const QString &folder, const QString &fileName) const
{
    // A recording outside the recordings folder is listed with its whole path, so that the
    // lists show where it is and the player finds it.
    if (QDir::cleanPath(folder) == QDir::cleanPath(m_recording))
        return fileName;
    return QDir(folder).filePath(fileName);
}

// --- The recordings folder --------------------------------------------------------------------

RecordingKeeper::FolderState RecordingKeeper::lookAtFolder(QString *reason)
{
    MessageStore &store = m_s.lists.store();
    const QString folder = QDir::cleanPath(m_recording);
    const bool remembered = store.value(kFolderKey) == folder && !store.value(kDeviceKey).isEmpty();
    const dev_t device = static_cast<dev_t>(store.value(kDeviceKey).toULongLong());
    const QString marker = QDir(folder).filePath(markerName());
    struct stat st = {};
    const bool exists = ::stat(native(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (remembered && !QFileInfo::exists(marker)) {
        // A folder without its marker on another device is the empty mount point on the disk
        // beneath; a missing folder above another device had its disk taken away. Either way
        // the recordings' disk is not there, and nothing is made in its place.
        const std::optional<dev_t> here = exists ? std::optional<dev_t>(st.st_dev) : deviceAbove(folder);
        if (!here || *here != device) {
            *reason = systemReason(ENOENT);
            return FolderState::Missing;
        }
    }
    if (!checkWritableFolder(folder, reason))
        return FolderState::Unusable;
    if (!QFileInfo::exists(marker)) {
        const int fd = ::open(native(marker).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    if (::stat(native(folder).constData(), &st) == 0
        && (!remembered || device != st.st_dev)) {
        store.setValue(kFolderKey, folder);
        store.setValue(kDeviceKey, QString::number(static_cast<qulonglong>(st.st_dev)));
    }
    return FolderState::Present;
}

bool RecordingKeeper::checkRecordingFolder()
{
    QString reason;
    const FolderState state = lookAtFolder(&reason);
    if (state == FolderState::Present) {
        m_lastBox.clear(); // the folder works again: its next failure gets a message box too
        if (m_missing) {
            m_missing = false;
            m_watch->setEnabled(false);
            m_s.status.AddStatus(m_s.texts.LoadText(kFolderBackText).arg(folderText(m_recording)));
            reconcile();
        }
        return true;
    }
    if (state == FolderState::Missing) {
        if (!m_missing) {
            m_missing = true;
            alarm(m_s.texts.LoadText(kFolderAwayText).arg(folderText(m_recording), folderText(m_fallback)));
        }
        m_watch->setEnabled(true);
        return false;
    }
    QString text = m_s.texts.LoadText(1803).arg(folderText(m_recording), reason);
    if (!m_fallback.isEmpty())
        text += QStringLiteral("; ") + m_s.texts.LoadText(1804).arg(folderText(m_fallback));
    alarm(text);
    return false;
}

void RecordingKeeper::watchTick()
{
    const std::vector<Pending> pending = m_pending; // list() takes each out once it is listed
    for (const Pending &p : pending) {
        if (list(p.folder, p.fileName, p.slot, p.origin, p.unread))
            m_s.status.AddStatus(m_s.texts.LoadText(kListedLaterText).arg(p.fileName));
    }
    if (m_missing)
        checkRecordingFolder();
    if (!m_missing && m_pending.empty())
        m_watch->setEnabled(false);
}

bool RecordingKeeper::openJournal(RecordingJournal &journal, const QString &name, OutputFormat format)
{
    // The folder is looked at before every call, and never given up on silently.
    QString reason;
    const FolderState state = lookAtFolder(&reason);
    if (state == FolderState::Present && journal.open(m_recording, name, format)) {
        if (m_missing)
            checkRecordingFolder(); // back: says so and reconciles
        m_lastBox.clear();
        return true;
    }
    if (state == FolderState::Present)
        reason = journal.errorText();
    QString text;
    if (state == FolderState::Missing) {
        text = m_s.texts.LoadText(kFolderAwayText).arg(folderText(m_recording), folderText(m_fallback));
        m_missing = true;
        m_watch->setEnabled(true);
    } else {
        text = m_s.texts.LoadText(1803).arg(folderText(m_recording), reason) + QStringLiteral("; ")
               + m_s.texts.LoadText(1804).arg(folderText(m_fallback));
    }
    if (!m_fallback.isEmpty() && makePrivateFolder(m_fallback) && journal.open(m_fallback, name, format)) {
        alarm(text);
        return true;
    }
    if (!m_fallback.isEmpty())
        text += QStringLiteral("; ") + m_s.texts.LoadText(1803).arg(folderText(m_fallback), journal.errorText());
    alarm(text);
    return false;
}

bool RecordingKeeper::moveToFallback(RecordingJournal &journal, const QString &reason, int textId)
{
    const QString from = journal.folder();
    if (isFallback(from) || m_fallback.isEmpty() || !makePrivateFolder(m_fallback) || !journal.relocate(m_fallback))
        return false;
    if (textId == 1810)
        alarm(m_s.texts.LoadText(1810).arg(folderText(from), folderText(m_fallback)));
    else
        alarm(m_s.texts.LoadText(1803).arg(folderText(from), reason) + QStringLiteral("; ")
              + m_s.texts.LoadText(textId).arg(folderText(m_fallback)));
    return true;
}

// --- The end of a recording -------------------------------------------------------------------

bool RecordingKeeper::list(const QString &folder, const QString &fileName, int slot, MessageOrigin origin, bool unread)
{
    NewMessage m;
    m.entry = listedName(folder, fileName);
    m.path = QDir(folder).filePath(fileName);
    m.caller = recordingCallerOf(fileName);
    m.callerName = m_nameOf && !m.caller.isEmpty() ? m_nameOf(m.caller) : QString();
    m.time = recordingStartOf(fileName);
    m.seconds = recordingSeconds(m.path);
    m.line = slot;
    m.unread = unread;
    m.origin = origin;
    bool known = false;
    const auto pending = std::find_if(m_pending.begin(), m_pending.end(),
                                      [&](const Pending &p) { return p.folder == folder && p.fileName == fileName; });
    const bool listed = m_s.lists.listRecording(m_recording, m, &known).has_value();
    if (listed || !QFileInfo::exists(m.path)) {
        if (pending != m_pending.end())
            m_pending.erase(pending);
        return listed && !known;
    }
    // The index refused (its disk full, say): the recording is kept and listed again on the
    // watch timer; a start in between finds it anyway. The user hears of it once, and again
    // only when the reason changes.
    m_watch->setEnabled(true);
    const QString reason = m_s.lists.store().errorText();
    if (pending == m_pending.end())
        m_pending.push_back({folder, fileName, slot, origin, unread, reason});
    else if (pending->reason != reason)
        pending->reason = reason;
    else
        return false;
    alarm(m_s.texts.LoadText(kNotListedText).arg(folderText(m.path), reason));
    return false;
}

QString RecordingKeeper::finish(std::unique_ptr<RecordingJournal> journal, int slot)
{
    if (!journal || !journal->isOpen())
        return QString();
    const QString name = journal->finalName();
    WriteOutcome outcome = journal->finish();
    if (outcome.status == WriteOutcome::Status::Failed) {
        // The folder refused the final step (gone, read-only): the fallback folder takes it.
        if (moveToFallback(*journal, journal->errorText(), 1809))
            outcome = journal->finish();
        if (outcome.status == WriteOutcome::Status::Failed) {
            // Nothing is removed: the journal stays and the next start recovers it.
            alarm(m_s.texts.LoadText(1807).arg(name, journal->errorText(), folderText(journal->path())));
            return QString();
        }
    }
    if (outcome.status != WriteOutcome::Status::Written)
        return QString();
    if (m_afterRename && !m_afterRename())
        return QString();
    // A recording cut short by a full disk is still listed: what was written is kept.
    const QString folder = journal->folder();
    const MessageOrigin origin = isFallback(folder) ? MessageOrigin::Fallback : MessageOrigin::Call;
    return list(folder, outcome.fileName, slot, origin, false) ? listedName(folder, outcome.fileName) : QString();
}

// --- Start-up ---------------------------------------------------------------------------------

int RecordingKeeper::recoverRecordings()
{
    QStringList folders;
    if (!m_missing)
        folders << m_recording;
    if (!m_fallback.isEmpty() && !isFallback(m_recording))
        folders << m_fallback;
    int count = 0;
    for (const QString &folder : std::as_const(folders)) {
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            continue;
        for (const RecoveredRecording &r : recoverJournals(folder)) {
            // Nobody has heard a recovered call yet, whatever its kind.
            list(r.folder, r.fileName, -1, MessageOrigin::Recovered, true);
            const QString when = r.started.isValid() ? r.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                     : r.fileName;
            m_s.status.AddStatus(
                m_s.texts.LoadText(1801).arg(when, r.caller.isEmpty() ? m_s.texts.LoadText(1802) : r.caller));
            ++count;
        }
    }
    return count;
}

int RecordingKeeper::reconcile()
{
    MessageStore &store = m_s.lists.store();
    QStringList folders;
    if (!m_missing)
        folders << QDir::cleanPath(m_recording);
    if (!m_fallback.isEmpty() && !isFallback(m_recording))
        folders << QDir::cleanPath(m_fallback);
    int changed = 0;
    for (const QString &folder : std::as_const(folders)) {
        const QString baselineKey = QStringLiteral("baseline:") + folder;
        if (!QFileInfo(folder).isDir()) {
            // A folder not there proves nothing about its files. (The recordings folder's disk
            // away is not looked at at all.) Whatever appears in it later is news.
            if (store.value(baselineKey).isEmpty())
                store.setValue(baselineKey, QStringLiteral("1"));
            continue;
        }
        // Entries whose file is gone leave the index; a listed one says so.
        for (const StoredMessage &m : store.messagesIn(folder)) {
            if (QFileInfo::exists(m.path()))
                continue;
            if (store.forget(m.id) && m.listed) {
                m_s.status.AddStatus(m_s.texts.LoadText(kGoneText).arg(m.entry, folderText(folder)));
                ++changed;
            }
        }
        // Recordings the index does not hold: a kill between a rename and its listing. A
        // folder looked at for the first time (an earlier version's, or one just chosen) has
        // its recordings taken in as they are, unlisted: they are not news.
        if (store.value(baselineKey).isEmpty()) {
            QList<NewMessage> known;
            for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
                const QString path = QDir(folder).filePath(name);
                if (!isRecordingName(name) || store.messageAt(path))
                    continue;
                NewMessage m;
                m.entry = listedName(folder, name);
                m.path = path;
                m.caller = recordingCallerOf(name);
                m.time = recordingStartOf(name);
                m.seconds = recordingSeconds(path);
                m.listed = false;
                m.origin = MessageOrigin::Migrated;
                known << m;
            }
            if (store.addMessages(known) >= 0)
                store.setValue(baselineKey, QStringLiteral("1"));
            continue;
        }
        const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
        for (const QString &name : names) {
            if (!isRecordingName(name) || store.messageAt(QDir(folder).filePath(name)))
                continue;
            const MessageOrigin origin = isFallback(folder) ? MessageOrigin::Fallback : MessageOrigin::Found;
            if (list(folder, name, -1, origin, true)) {
                m_s.status.AddStatus(m_s.texts.LoadText(kFoundText).arg(name, folderText(folder)));
                ++changed;
            }
        }
    }
    if (changed > 0)
        m_s.lists.MaintainLists();
    return changed;
}

void RecordingKeeper::startUp()
{
    checkRecordingFolder();
    // Calls cut off by a crash or a power cut come back before anything else happens.
    recoverRecordings();
    reconcile();
}

} // namespace telvox
