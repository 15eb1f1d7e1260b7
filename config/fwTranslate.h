// Every visible text is looked up by key with its English text as the default,
// in the translation table "lng.ini" that the programs extract from their
// "TRANSLATE" resource into CommonDataFolder\Translate\.
#pragma once

#include <string>

// Extracts the table when the program's version changed (or the file is
// gone) and opens it. Failures leave every text at its default.
void LoadTranslations();
// The lower-cased code when the table lists it, else "en".
std::string ValidLanguage(const std::string &code);
// The current language at installation: the stored one when valid, else the
// user's own language when the table has it, else "en".
void SettleLanguage();
// Language names of the table, in table order, joined by separator.
std::wstring LanguageNames(const std::wstring &separator);
std::wstring LanguageCodeAt(int index);
int LanguageIndex(const std::string &code);

// The current language code ("en", "de", ...); also picks the engine's captions.
std::string CurrentLanguage();
void SetCurrentLanguage(const std::string &code);

// The text for key in the current language, or def when the table has none;
// then %BRAND%, %BRAND_DOMAIN%, %SUPPORT_PHONE%, %SUPPORT_MAIL%, %#%, %C%,
// %YEAR% and "|" are replaced (any case, every occurrence).
std::wstring Translate(const std::string &key, const std::wstring &def);
// A text "Key=Default" names its own key; others use key.
std::wstring TranslateText(const std::string &key, const std::wstring &text);
std::wstring ReplacePlaceholders(const std::wstring &text);

// Where the table is extracted to and where the version is recorded; tests
// point them at scratch places.
void SetTranslationPlaces(const std::string &folder, const std::string &versionKey);
