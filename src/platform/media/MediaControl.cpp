#include "platform/media/MediaControl.h"

#include "platform/media/MediaDevice.h"
#include "platform/media/SoundRecorder.h"

#include <QRegularExpression>
#include <QStringList>

namespace telvox {

namespace {

MediaReply fail(MediaError error) { return {error, QString()}; }
MediaReply done(QString text = QString()) { return {MediaError::None, std::move(text)}; }

bool same(QStringView a, QLatin1String b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString unquoted(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

} // namespace

MediaControl::~MediaControl()
{
    if (isOpen())
        m_device.close();
    if (m_recorder && !m_recordAlias.isEmpty())
        m_recorder->discard();
}

MediaReply MediaControl::sendString(const QString &command)
{
    const QString trimmed = command.trimmed();
    const qsizetype space = trimmed.indexOf(QLatin1Char(' '));
    const QString verb = space < 0 ? trimmed : trimmed.left(space);
    const QString rest = space < 0 ? QString() : trimmed.mid(space + 1).trimmed();

    if (same(verb, QLatin1String("open")))
        return open(rest);

    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = rest.split(blanks, Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        const bool known = same(verb, QLatin1String("close")) || same(verb, QLatin1String("play"))
            || same(verb, QLatin1String("pause")) || same(verb, QLatin1String("resume"))
            || same(verb, QLatin1String("stop")) || same(verb, QLatin1String("seek"))
            || same(verb, QLatin1String("status"));
        return fail(known ? MediaError::MissingParameter : MediaError::UnrecognisedCommand);
    }
    if (!m_recordAlias.isEmpty() && words[0].compare(m_recordAlias, Qt::CaseInsensitive) == 0)
        return recorderCommand(verb, words, rest.mid(words[0].size()).trimmed());
    // A file opened without an alias is named by its path, which may contain blanks.
    const bool aliasOpen = isOpen()
        && (words[0].compare(m_alias, Qt::CaseInsensitive) == 0
            || unquoted(rest).compare(m_alias, Qt::CaseInsensitive) == 0);

    if (same(verb, QLatin1String("close"))) {
        if (!aliasOpen)
            return fail(MediaError::UnknownAlias);
        m_device.close();
        m_alias.clear();
        m_file.clear();
        m_paused = false;
        return done();
    }
    if (same(verb, QLatin1String("play")) || same(verb, QLatin1String("resume"))) {
        if (!aliasOpen)
            return fail(MediaError::UnknownAlias);
        m_paused = false;
        m_device.play();
        return done();
    }
    if (same(verb, QLatin1String("pause"))) {
        if (!aliasOpen)
            return fail(MediaError::UnknownAlias);
        if (m_device.isPlaying()) {
            m_device.pause();
            m_paused = true;
        }
        return done();
    }
    if (same(verb, QLatin1String("stop"))) {
        if (!aliasOpen)
            return fail(MediaError::UnknownAlias);
        m_device.pause();
        m_paused = false;
        return done();
    }
    if (same(verb, QLatin1String("seek"))) {
        if (!aliasOpen)
            return fail(MediaError::UnknownAlias);
        if (words.size() < 3 || !same(words[1], QLatin1String("to")))
            return fail(MediaError::MissingParameter);
        qint64 target = 0;
        if (same(words[2], QLatin1String("start"))) {
            target = 0;
        } else if (same(words[2], QLatin1String("end"))) {
            target = m_device.lengthMs();
        } else {
            bool ok = false;
            target = words[2].toLongLong(&ok);
            if (!ok || target < 0)
                return fail(MediaError::BadInteger);
        }
        // Seeking ends playback and leaves the device stopped at the new position.
        m_device.pause();
        m_device.seek(qMin(target, m_device.lengthMs()));
        m_paused = false;
        return done();
    }
    if (same(verb, QLatin1String("status"))) {
        if (!aliasOpen)
            return fail(MediaError::UnknownAlias);
        if (words.size() < 2)
            return fail(MediaError::MissingParameter);
        if (same(words[1], QLatin1String("length")))
            return done(QString::number(m_device.lengthMs()));
        if (same(words[1], QLatin1String("position")))
            return done(QString::number(m_device.positionMs()));
        if (same(words[1], QLatin1String("mode"))) {
            if (m_device.isPlaying())
                return done(QStringLiteral("playing"));
            return done(m_paused ? QStringLiteral("paused") : QStringLiteral("stopped"));
        }
        return fail(MediaError::UnrecognisedCommand);
    }
    return fail(MediaError::UnrecognisedCommand);
}

MediaReply MediaControl::recorderCommand(const QString &verb, const QStringList &words, const QString &afterAlias)
{
    if (same(verb, QLatin1String("set"))) {
        if (words.size() < 3 || words.size() % 2 == 0)
            return fail(MediaError::MissingParameter);
        RecordFormat format = m_recordFormat;
        for (qsizetype i = 1; i + 1 < words.size(); i += 2) {
            bool ok = false;
            const int value = words[i + 1].toInt(&ok);
            if (!ok || value <= 0)
                return fail(MediaError::BadInteger);
            if (same(words[i], QLatin1String("samplespersec")))
                format.samplesPerSec = value;
            else if (same(words[i], QLatin1String("channels")))
                format.channels = value;
            else if (same(words[i], QLatin1String("bitspersample")))
                format.bitsPerSample = value;
            else
                return fail(MediaError::UnrecognisedCommand);
        }
        m_recordFormat = format;
        return done();
    }
    if (same(verb, QLatin1String("record")))
        return m_recorder->start(m_recordFormat) ? done() : fail(MediaError::NoInputDevice);
    if (same(verb, QLatin1String("stop"))) {
        m_recorder->stop();
        return done();
    }
    if (same(verb, QLatin1String("save"))) {
        const QString file = unquoted(afterAlias);
        if (file.isEmpty())
            return fail(MediaError::MissingParameter);
        m_recorder->stop();
        return m_recorder->save(file) ? done() : fail(MediaError::CannotWrite);
    }
    if (same(verb, QLatin1String("close"))) {
        m_recorder->discard();
        m_recordAlias.clear();
        return done();
    }
    if (same(verb, QLatin1String("status"))) {
        if (words.size() < 2)
            return fail(MediaError::MissingParameter);
        if (same(words[1], QLatin1String("mode")))
            return done(m_recorder->isRecording() ? QStringLiteral("recording") : QStringLiteral("stopped"));
        return fail(MediaError::UnrecognisedCommand);
    }
    return fail(MediaError::UnrecognisedCommand);
}

MediaReply MediaControl::open(const QString &arguments)
{
    // "<file> [type <t>] alias <name> [type <t>]"; the file may contain blanks, so the last
    // " alias " separates it from the alias.
    static const QRegularExpression form(
        QStringLiteral("^(.+?)(?:\\s+type\\s+\\S+)?\\s+alias\\s+(\\S+)(?:\\s+type\\s+\\S+)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(arguments);
    if (match.hasMatch() && same(unquoted(match.captured(1)), QLatin1String("new"))) {
        // A new recording: the recorder's own alias, beside any playback.
        if (!m_recorder)
            return fail(MediaError::CannotOpen);
        if (!m_recordAlias.isEmpty() || match.captured(2).compare(m_alias, Qt::CaseInsensitive) == 0)
            return fail(MediaError::AliasInUse);
        m_recordAlias = match.captured(2);
        m_recordFormat = RecordFormat{};
        return done();
    }
    const QString file = unquoted(match.hasMatch() ? match.captured(1) : arguments);
    const QString alias = match.hasMatch() ? match.captured(2) : file;
    if (file.isEmpty())
        return fail(MediaError::MissingParameter);
    if (isOpen()) // one device: close the open alias first
        return fail(MediaError::AliasInUse);
    if (!m_device.open(file))
        return fail(MediaError::CannotOpen);
    m_alias = alias;
    m_file = file;
    m_paused = false;
    return done();
}

QString toString(MediaError error)
{
    switch (error) {
    case MediaError::None: return QStringLiteral("no error");
    case MediaError::UnrecognisedCommand: return QStringLiteral("unrecognised command");
    case MediaError::MissingParameter: return QStringLiteral("missing parameter");
    case MediaError::BadInteger: return QStringLiteral("bad integer");
    case MediaError::UnknownAlias: return QStringLiteral("alias not open");
    case MediaError::AliasInUse: return QStringLiteral("alias already in use");
    case MediaError::CannotOpen: return QStringLiteral("cannot open the file");
    case MediaError::NoInputDevice: return QStringLiteral("no sound input to record from");
    case MediaError::CannotWrite: return QStringLiteral("cannot write the file");
    }
    return QString();
}

} // namespace telvox
