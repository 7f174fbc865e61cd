#pragma once

#include <QString>

// The interface texts that follow the chosen language: kTextRows rows, each
// the same text in the six languages, in LanguageIndex order (EN, FR, IT, DE,
// PO, ES). Row r in language l is element r * kLanguages + l. UTF-8.
inline constexpr int kTextRows = 31, kLanguages = 6;
extern const char *const TextTable[kTextRows * kLanguages];

// The text of a row in the current LanguageIndex; an empty string for a row or
// a language outside the table.
QString GetText(int row);
