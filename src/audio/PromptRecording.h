#pragma once

#include <QList>
#include <QString>

namespace telvox {

// What writing a recorded prompt did.
struct PromptWrite
{
    bool written = false;  // false: too short, or the files could not be opened
    QList<qint64> blocks;  // the size of each block copied from the working file, in order
};

// Turns the greeting recorder's working file (raw PCM 8000 Hz, 16 bit, mono) into the prompt
// `target`: the 44-byte PCM header, then the working file in blocks of 5120 bytes and the
// remainder. A recording whose file would be below 5000 bytes (about 0.3 s of sound) writes
// nothing and leaves the target as it was; a longer old prompt is cut to the new length.
PromptWrite writePromptRecording(const QString &workingFile, const QString &target);

} // namespace telvox
