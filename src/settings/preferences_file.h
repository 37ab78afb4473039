// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/panel_settings.h"

#include <QString>

#include <optional>
#include <string>

// Where the preferences live: pref.vyr in the program's configuration folder.
[[nodiscard]] QString preferencesPath(const QString& configFolder);

// Where an older installation kept them: "c:\pref.vyr" on Windows, which a standard user can no
// longer write; empty elsewhere.
[[nodiscard]] QString legacyPreferencesPath();

// The file to read them from: `path`, or, until it exists, the one at `legacy` when there is
// one, so that an older installation's settings carry over; they are then written to `path`.
[[nodiscard]] QString preferencesToRead(const QString& path, const QString& legacy = legacyPreferencesPath());

// The longest preferences file that is read; three short lines need far less.
inline constexpr qint64 maxPreferencesBytes = 64 * 1024;

// The whole file, every byte as it stands, line ends included. Only a regular file of at most
// maxPreferencesBytes is read, so a FIFO, a device or a huge file can neither hang nor flood
// the start-up. On any failure it returns empty text and sets errFlag; it never throws and
// shows nothing.
[[nodiscard]] std::string ReadTextFile(const QString& fileName, bool& errFlag);

// The defaults, then whatever the file gives. A missing or unreadable file leaves the
// defaults, silently.
void readPreferences(PanelSettings& settings, const QString& fileName);

// Removes the temporary files a writer killed half-way left beside the file, once they are more
// than a minute old (a writer still at work is left alone).
void removeStaleTemporaries(const QString& fileName);

// Replaces the file with the settings, creating its folder when needed. The replacement is
// atomic: on failure the old file stays exactly as it was and no temporary file is left.
// nullopt on success, otherwise the system's reason.
[[nodiscard]] std::optional<QString> writePreferences(const PanelSettings& settings, const QString& fileName);
