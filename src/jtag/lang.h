// The language of the texts the programs print. The texts are written in Japanese in the code;
// in English they come from a message catalog (po/en.po) that the build compiles into the
// library, so that no installed locale or catalog file is needed at run time.
//
// A text is translated where it is chosen, before any formatting:
//   spirom_log(tr_ja("page %d で結果不一致"), page);
// The library starts in Japanese (the texts as written); the front ends choose at start-up.
#pragma once

#include <string>

enum class Language { Japanese, English };

void set_language(Language language);
Language current_language();

// "ja" or "en" (the value of --lang and of the window's setting); false for anything else.
bool parse_language(const std::string& text, Language* language);

// The language the environment asks for: the first non-empty of LC_ALL, LC_MESSAGES and LANG;
// Japanese when it starts with "ja", English otherwise (also for C, POSIX and no locale).
Language language_from_environment();

// `text` in the current language: in English the catalog's translation, or `text` itself when
// the catalog has none (texts that are already English, names from outside). The result lives
// as long as the program. Formats keep their checks: the compiler checks the arguments against
// the Japanese literal, and the catalog build checks that each translation has the same
// conversions in the same order.
const char* tr_ja(const char* text) __attribute__((format_arg(1)));
std::string tr_ja(const std::string& text);

// Marks a Japanese literal that is stored now and translated where it is printed (a table entry,
// a named constant); the catalog check counts it as covered.
constexpr const char* tr_ja_noop(const char* text) {
    return text;
}
