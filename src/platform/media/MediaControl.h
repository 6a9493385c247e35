#pragma once

#include "platform/media/SoundRecorder.h"

#include <QString>
#include <QStringList>

namespace telvox {

class MediaDevice;
class SoundRecorder;

enum class MediaError {
    None,
    UnrecognisedCommand, // unknown verb or status item
    MissingParameter,    // "open" without "alias", "seek" without "to", ...
    BadInteger,          // "seek ... to x"
    UnknownAlias,        // the alias named is not open
    AliasInUse,          // "open ... alias A" while A is open
    CannotOpen,          // the file is missing or cannot be played
    NoInputDevice,       // "record" without a sound input to record from
    CannotWrite,         // "save" could not write the file
};

// The answer to one command: the reply text ("playing", "12700", or empty) and an error.
struct MediaReply
{
    MediaError error = MediaError::None;
    QString text;
    bool ok() const { return error == MediaError::None; }
};

// The media control the players talk to: text commands such as
//   "open /rec/A2026-01-05~10-11-12.wav alias MyMedia", "status MyMedia length",
//   "play MyMedia", "pause MyMedia", "resume MyMedia", "stop MyMedia",
//   "seek MyMedia to  12000", "status MyMedia mode" / "position", "close MyMedia",
// answered by one device. Verbs and the alias compare without regard to case; extra blanks
// between words are allowed. A file name may be written in double quotes and may contain
// blanks; "type waveaudio" may stand before or after the alias. "status ... mode" answers
// "playing", "paused" or "stopped"; lengths and positions are decimal milliseconds.
// One alias is open at a time, so opening a file in one player ends what another played.
// "open <file>" without an alias makes the file name its own alias ("play <file>").
//
// With a recorder attached, "open new type waveaudio alias wave" opens a recording alias
// beside the playback one: "set wave samplespersec 11025" (also "channels", "bitspersample"),
// "record wave", "stop wave", "save wave <file>", "status wave mode" ("recording" or
// "stopped") and "close wave", which forgets what was not saved.
class MediaControl
{
public:
    explicit MediaControl(MediaDevice &device)
        : m_device(device)
    {
    }
    ~MediaControl();

    MediaControl(const MediaControl &) = delete;
    MediaControl &operator=(const MediaControl &) = delete;

    MediaReply sendString(const QString &command);
    // The prompt recorder behind "open new"; without one, "open new" fails.
    void setRecorder(SoundRecorder *recorder) { m_recorder = recorder; }

    bool isOpen() const { return !m_alias.isEmpty(); }
    QString openFile() const { return m_file; }

private:
    MediaReply open(const QString &arguments);
    MediaReply recorderCommand(const QString &verb, const QStringList &words, const QString &afterAlias);

    MediaDevice &m_device;
    QString m_alias;
    QString m_file;
    bool m_paused = false;
    SoundRecorder *m_recorder = nullptr;
    QString m_recordAlias;
    RecordFormat m_recordFormat;
};

QString toString(MediaError error);

} // namespace telvox
