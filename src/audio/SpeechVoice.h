#pragma once

#include "telephony/RemotePhrases.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace telvox {

// Speech for the telephone menu, rendered as the menu needs it by libespeak-ng, in the line's
// format (8000 Hz, 16-bit mono). The library is loaded (dlopen) on the first phrase of the
// first remote session, so that the program's start and its memory stay as they were for
// everyone who never calls in; it stays loaded afterwards. Phrases said often are kept.
class SpeechVoice
{
public:
    SpeechVoice() = default;
    SpeechVoice(const SpeechVoice &) = delete;
    SpeechVoice &operator=(const SpeechVoice &) = delete;

    // The text spoken in the language's voice as line audio; nothing when the engine cannot
    // be loaded or refuses (errorText() then says why).
    std::optional<QByteArray> render(const QString &text, SpeechLanguage language);
    QString errorText() const { return m_error; }

private:
    bool load();
    QString m_error;
    // Phrases said before (the keys' list, "Goodbye", ...), by voice and text; emptied when it
    // grows past kCacheEntries so that a long session cannot grow without bound.
    static constexpr int kCacheEntries = 32;
    QHash<QString, QByteArray> m_cache;
    bool m_tried = false;
    bool m_loaded = false;
};

// `samples` at `fromRate` as 16-bit samples at 8000 Hz, low-pass filtered below 3.6 kHz
// first so that nothing above the line's band folds back into it.
std::vector<std::int16_t> resampleToLine(std::span<const std::int16_t> samples, int fromRate);

} // namespace telvox
