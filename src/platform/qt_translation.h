// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Qt's own texts (file dialogs, standard buttons, --help's headings) in Portuguese: Brazilian,
// the nearest Qt has. Texts the program sets itself are not touched. Returns whether it loaded.
bool installQtTranslation();
