#include "telephony/RemotePhrases.h"

#include <QLocale>
#include <QStringList>

namespace telvox {

namespace {

using Kind = RemotePhrase::Kind;

const char16_t *const kChineseDigits[] = {u"零", u"一", u"二", u"三", u"四", u"五", u"六", u"七", u"八", u"九"};

QString digitWordsEnglish(const QString &number)
{
    static const char *const words[] = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"};
    QStringList out;
    for (QChar c : number) {
        if (c.isDigit())
            out << QString::fromLatin1(words[c.digitValue()]);
        else if (c == QLatin1Char('*'))
            out << QStringLiteral("star");
        else if (c == QLatin1Char('#'))
            out << QStringLiteral("hash");
        else if (c == QLatin1Char('+'))
            out << QStringLiteral("plus");
    }
    return out.join(QLatin1Char(' '));
}

QString digitWordsChinese(const QString &number, SpeechLanguage language)
{
    QString out;
    for (QChar c : number) {
        if (!c.isDigit())
            continue;
        // Mandarin says a telephone number's one as "yao", so that it is not heard as seven.
        if (c == QLatin1Char('1') && language == SpeechLanguage::Mandarin)
            out += QStringLiteral("幺");
        else
            out += QString::fromUtf16(kChineseDigits[c.digitValue()]);
    }
    return out;
}

QString englishCount(int n, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(n == 0 ? QStringLiteral("no") : QString::number(n),
                                       QString::fromLatin1(n == 1 ? singular : plural));
}

QString englishIntro(const RemotePhrase &p)
{
    const QDateTime &t = p.time;
    QString text = QStringLiteral("Message of %1, %2 %3, at %4.")
                       .arg(QLocale(QLocale::English).dayName(t.date().dayOfWeek()),
                            QLocale(QLocale::English).monthName(t.date().month()))
                       .arg(t.date().day())
                       .arg(QLocale(QLocale::English).toString(t.time(), QStringLiteral("h:mm AP")));
    if (!p.callerName.isEmpty())
        text += QStringLiteral(" From %1.").arg(p.callerName);
    else if (!p.caller.isEmpty())
        text += QStringLiteral(" From %1.").arg(digitWordsEnglish(p.caller));
    else
        text += QStringLiteral(" From an unknown caller.");
    return text;
}

QString chineseIntro(const RemotePhrase &p, SpeechLanguage language)
{
    const bool yue = language == SpeechLanguage::Cantonese;
    const QDateTime &t = p.time;
    static const char16_t *const weekdays[] = {u"一", u"二", u"三", u"四", u"五", u"六", u"日"};
    const int hour = t.time().hour();
    // Morning, afternoon and evening as each language names them, on a twelve-hour clock.
    QString part;
    if (hour < 12)
        part = yue ? QStringLiteral("上晝") : QStringLiteral("上午");
    else if (hour < 18)
        part = yue ? QStringLiteral("下晝") : QStringLiteral("下午");
    else
        part = yue ? QStringLiteral("夜晚") : QStringLiteral("晚上");
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    const int minute = t.time().minute();
    QString clock = chineseNumber(hour12, language, false) + (yue ? QStringLiteral("點") : QStringLiteral("点"));
    if (minute == 0)
        clock += yue ? QStringLiteral("正") : QStringLiteral("整");
    else
        clock += (minute < 10 ? QStringLiteral("零") : QString()) + chineseNumber(minute, language) + QStringLiteral("分");
    QString text = chineseNumber(t.date().month(), language) + QStringLiteral("月") + chineseNumber(t.date().day(), language)
                   + (yue ? QStringLiteral("號") : QStringLiteral("日")) + QStringLiteral("，")
                   + (yue ? QStringLiteral("星期") : QStringLiteral("星期"))
                   + QString::fromUtf16(weekdays[t.date().dayOfWeek() - 1]) + QStringLiteral("，") + part + clock
                   + QStringLiteral("嘅留言。");
    if (!yue)
        text.replace(QStringLiteral("嘅留言"), QStringLiteral("的留言"));
    if (!p.callerName.isEmpty())
        text += QStringLiteral("来电：") + p.callerName + QStringLiteral("。");
    else if (!p.caller.isEmpty())
        text += QStringLiteral("来电：") + digitWordsChinese(p.caller, language) + QStringLiteral("。");
    else
        text += yue ? QStringLiteral("來電號碼不明。") : QStringLiteral("来电号码不明。");
    if (yue)
        text.replace(QStringLiteral("来电："), QStringLiteral("來電："));
    return text;
}

QString english(const RemotePhrase &p)
{
    switch (p.kind) {
    case Kind::Summary:
        return QStringLiteral("You have %1 and %2.")
            .arg(englishCount(p.newCount, "new message", "new messages"),
                 englishCount(p.savedCount, "saved message", "saved messages"));
    case Kind::Intro: return englishIntro(p);
    case Kind::AfterMessage:
        return QStringLiteral("Press 1 to replay, 2 for the next message, 3 to delete, 0 for help.");
    case Kind::NoMore: return QStringLiteral("There are no more messages.");
    case Kind::Deleted: return QStringLiteral("Message deleted.");
    case Kind::KeptNew: return QStringLiteral("Message kept as new.");
    case Kind::Help:
        return QStringLiteral("Press 1 to replay, 2 for the next message, 3 to delete, 4 for the previous message, "
                              "5 to keep it as new, 7 to go back 5 seconds, 9 to go forward 5 seconds, "
                              "6 to record a new greeting, 0 for help, and hash to end.");
    case Kind::WrongPin: return QStringLiteral("Wrong PIN.");
    case Kind::Locked: return QStringLiteral("Remote access is locked for now.");
    case Kind::Goodbye: return QStringLiteral("Goodbye.");
    case Kind::GreetingRecord: return QStringLiteral("Record your new greeting after the tone, then press hash.");
    case Kind::GreetingReview: return QStringLiteral("Press 1 to keep this greeting, any other key to discard it.");
    case Kind::GreetingKept: return QStringLiteral("Your new greeting is kept.");
    case Kind::GreetingDiscarded: return QStringLiteral("The new greeting was discarded.");
    case Kind::CannotPlay: return QStringLiteral("This message cannot be played by telephone.");
    }
    return {};
}

QString mandarin(const RemotePhrase &p)
{
    const auto n = [](int v, bool measure = false) { return chineseNumber(v, SpeechLanguage::Mandarin, measure); };
    switch (p.kind) {
    case Kind::Summary:
        return QStringLiteral("您有%1条新留言，%2条已保存的留言。").arg(n(p.newCount, true), n(p.savedCount, true));
    case Kind::Intro: return chineseIntro(p, SpeechLanguage::Mandarin);
    case Kind::AfterMessage: return QStringLiteral("重听请按一，下一条请按二，删除请按三，帮助请按零。");
    case Kind::NoMore: return QStringLiteral("没有更多留言了。");
    case Kind::Deleted: return QStringLiteral("留言已删除。");
    case Kind::KeptNew: return QStringLiteral("留言保留为新留言。");
    case Kind::Help:
        return QStringLiteral("重听请按一，下一条请按二，删除请按三，上一条请按四，保留为新留言请按五，"
                              "后退五秒请按七，前进五秒请按九，录制新问候语请按六，帮助请按零，结束请按井号。");
    case Kind::WrongPin: return QStringLiteral("密码错误。");
    case Kind::Locked: return QStringLiteral("远程收听暂时已锁定。");
    case Kind::Goodbye: return QStringLiteral("再见。");
    case Kind::GreetingRecord: return QStringLiteral("请在提示音后录制新的问候语，结束请按井号。");
    case Kind::GreetingReview: return QStringLiteral("保留这段问候语请按一，按其他键放弃。");
    case Kind::GreetingKept: return QStringLiteral("新的问候语已保存。");
    case Kind::GreetingDiscarded: return QStringLiteral("新的问候语已放弃。");
    case Kind::CannotPlay: return QStringLiteral("这条留言无法通过电话播放。");
    }
    return {};
}

QString cantonese(const RemotePhrase &p)
{
    const auto n = [](int v, bool measure = false) { return chineseNumber(v, SpeechLanguage::Cantonese, measure); };
    switch (p.kind) {
    case Kind::Summary:
        return QStringLiteral("你有%1個新留言，%2個已儲存嘅留言。").arg(n(p.newCount, true), n(p.savedCount, true));
    case Kind::Intro: return chineseIntro(p, SpeechLanguage::Cantonese);
    case Kind::AfterMessage: return QStringLiteral("重聽請按一，下一個請按二，刪除請按三，說明請按零。");
    case Kind::NoMore: return QStringLiteral("冇其他留言喇。");
    case Kind::Deleted: return QStringLiteral("留言已經刪除。");
    case Kind::KeptNew: return QStringLiteral("留言保留做新留言。");
    case Kind::Help:
        return QStringLiteral("重聽請按一，下一個請按二，刪除請按三，上一個請按四，保留做新留言請按五，"
                              "退後五秒請按七，向前五秒請按九，錄製新問候語請按六，說明請按零，結束請按井號。");
    case Kind::WrongPin: return QStringLiteral("密碼錯誤。");
    case Kind::Locked: return QStringLiteral("遙距收聽暫時鎖咗。");
    case Kind::Goodbye: return QStringLiteral("再見。");
    case Kind::GreetingRecord: return QStringLiteral("請喺提示音之後錄製新嘅問候語，完成請按井號。");
    case Kind::GreetingReview: return QStringLiteral("保留呢段問候語請按一，按其他鍵放棄。");
    case Kind::GreetingKept: return QStringLiteral("新嘅問候語已經儲存。");
    case Kind::GreetingDiscarded: return QStringLiteral("新嘅問候語已經放棄。");
    case Kind::CannotPlay: return QStringLiteral("呢個留言唔可以經電話播放。");
    }
    return {};
}

} // namespace

SpeechLanguage speechLanguageFor(const QString &languageSetting)
{
    const QString v = languageSetting.trimmed();
    if (v == QLatin1String("1"))
        return SpeechLanguage::Mandarin;
    if (v == QLatin1String("2"))
        return SpeechLanguage::Cantonese;
    return SpeechLanguage::English;
}

QString voiceName(SpeechLanguage language)
{
    switch (language) {
    case SpeechLanguage::English: return QStringLiteral("en");
    case SpeechLanguage::Mandarin: return QStringLiteral("cmn");
    case SpeechLanguage::Cantonese: return QStringLiteral("yue");
    }
    return QStringLiteral("en");
}

QString chineseNumber(int n, SpeechLanguage language, bool measure)
{
    if (n < 0 || n > 9999)
        return QString::number(n);
    if (n == 2 && measure)
        return language == SpeechLanguage::Cantonese ? QStringLiteral("兩") : QStringLiteral("两");
    if (n < 10)
        return QString::fromUtf16(kChineseDigits[n]);
    static const char16_t *const units[] = {u"", u"十", u"百", u"千"};
    const int digits[] = {n / 1000, n / 100 % 10, n / 10 % 10, n % 10};
    QString out;
    bool zeroPending = false;
    for (int i = 0; i < 4; ++i) {
        const int d = digits[i];
        const int unit = 3 - i;
        if (d == 0) {
            zeroPending = !out.isEmpty();
            continue;
        }
        if (zeroPending)
            out += QString::fromUtf16(kChineseDigits[0]);
        zeroPending = false;
        // Ten to nineteen are said "shi", "shi yi", ... without a leading one.
        if (!(d == 1 && unit == 1 && out.isEmpty()))
            out += QString::fromUtf16(kChineseDigits[d]);
        out += QString::fromUtf16(units[unit]);
    }
    return out;
}

QString phraseText(const RemotePhrase &phrase, SpeechLanguage language)
{
    switch (language) {
    case SpeechLanguage::English: return english(phrase);
    case SpeechLanguage::Mandarin: return mandarin(phrase);
    case SpeechLanguage::Cantonese: return cantonese(phrase);
    }
    return {};
}

} // namespace telvox
