// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "signs/sign_table.h"

#include <QString>

#include <optional>

// A sign as other programs name it, by every way in alike: blanks before and after not
// significant, then a button's caption, case and accents not significant ("xadrez", "PARAR"),
// or its place on the screen as one digit, 1 to 5, as the keys 1 to 5 choose it.
[[nodiscard]] std::optional<Sign> signFromName(const QString& name);
// The sign at place 1 to 5 on the screen.
[[nodiscard]] std::optional<Sign> signAtPlace(int place);
// The sign whose caption is exactly `caption` ("Parar", never "parar"), as the programs publish it.
[[nodiscard]] std::optional<Sign> signFromCaption(const QString& caption);
// The caption of a sign, or an empty string for anything that is no sign.
[[nodiscard]] QString signCaption(Sign kind);

// What callers are told of a name that is no sign. Only the first 64 characters of it are
// echoed: a caller cannot make the answer, the journal or a log as long as it likes.
[[nodiscard]] QString notASignText(const QString& name);
