#pragma once

#include <QDateTime>
#include <QString>

namespace telvox {

// The languages the telephone menu speaks: the user's language (the "Language" option) read
// aloud, Traditional Chinese as Cantonese.
enum class SpeechLanguage { English, Mandarin, Cantonese };

SpeechLanguage speechLanguageFor(const QString &languageSetting);
// The speech engine's voice for the language.
QString voiceName(SpeechLanguage language);

// Something the telephone menu says.
struct RemotePhrase
{
    enum class Kind {
        Summary,      // "You have N new messages and M saved messages"
        Intro,        // a message's date, time and caller
        AfterMessage, // the main keys, once a message has ended
        NoMore,       // the end of the messages
        Deleted,
        KeptNew,
        Help,         // every key
        WrongPin,
        Locked,       // remote retrieval is locked for now
        Goodbye,
        GreetingRecord,    // "record the new greeting after the tone, then press #"
        GreetingReview,    // "press 1 to keep it, any other key to discard it"
        GreetingKept,
        GreetingDiscarded,
        CannotPlay, // the message's audio cannot be played to a line
    };
    Kind kind = Kind::Help;
    int newCount = 0;
    int savedCount = 0;
    QDateTime time;     // Intro
    QString callerName; // Intro: the phonebook's name, when known
    QString caller;     // Intro: the number, when known

    static RemotePhrase of(Kind kind)
    {
        RemotePhrase p;
        p.kind = kind;
        return p;
    }
};

// The words of a phrase in a language, as the speech engine is to read them: numbers,
// dates and times spelled the way the language says them, a telephone number digit by digit.
QString phraseText(const RemotePhrase &phrase, SpeechLanguage language);

// Helpers, also for tests: a whole number (0 to 9999) in Chinese numerals ("二十一");
// `measure` uses the counting form of two (两 / 兩) for counts.
QString chineseNumber(int n, SpeechLanguage language, bool measure = false);

} // namespace telvox
