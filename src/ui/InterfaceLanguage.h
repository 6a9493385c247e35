#pragma once

class QString;

namespace telvox {

// The language setting ("0" English, "1" Simplified, "2" Traditional Chinese) for a locale
// name such as "zh_TW" or "en_GB": zh_CN and zh_SG Simplified; zh_TW, zh_HK and zh_MO
// Traditional (as are Chinese locales that name the Hant script); every other locale English.
QString languageSettingForLocale(const QString &localeName);

// The language setting for the user's own locale (LC_ALL, LC_MESSAGES, LANG).
QString systemLanguageSetting();

// Puts Qt's own texts (the standard buttons OK, Cancel, Yes, No and the standard dialogs) in
// the interface language: 0 English, 1000 Simplified Chinese, 2000 Traditional Chinese.
// Replaces the translation installed by an earlier call; English installs none.
void installQtTranslations(int languageOffset);

} // namespace telvox
