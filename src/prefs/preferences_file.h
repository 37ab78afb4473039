#pragma once

#include "prefs/panel_settings.h"

#include <QString>

#include <optional>
#include <string>

// Where the preferences live: "c:\pref.vyr" on Windows, pref.vyr in the program's config
// folder elsewhere.
[[nodiscard]] QString preferencesPath();

// The whole file, every byte as it stands, line ends included. On any failure to open or read
// it returns empty text and sets errFlag; it never throws and shows nothing.
[[nodiscard]] std::string ReadTextFile(const QString& fileName, bool& errFlag);

// The defaults, then whatever the file at preferencesPath() gives. A missing or unreadable
// file leaves the defaults, silently.
void readPreferences(PanelSettings& settings);

// Replaces the file at preferencesPath() with the settings, creating its folder when needed.
// The replacement is atomic: on failure the old file stays exactly as it was and no temporary
// file is left. nullopt on success, otherwise the system's reason.
[[nodiscard]] std::optional<QString> writePreferences(const PanelSettings& settings);
