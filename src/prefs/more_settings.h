#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Settings beyond the three of pref.vyr, which keeps exactly its three lines: they live in
// painel-sinaletico.conf beside it (INI). Each is off or at its default unless set.
struct MoreSettings {
    static constexpr int maxKeepAliveSeconds = 3600;
    // The chosen sign is sent again this often; 0 is off.
    int keepAliveSeconds = 0;
    static constexpr int minRetentionDays = 1;
    static constexpr int maxRetentionDays = 3650;
    // Journal entries older than this are removed at start-up.
    int retentionDays = 365;

    friend bool operator==(const MoreSettings&, const MoreSettings&) = default;
};

// The file beside the preferences file.
[[nodiscard]] QString moreSettingsPath(const QString& preferencesFile);

// A missing file or key gives the default; a bad value gives the default and a line in
// `problems`, for the operator. Never fails.
[[nodiscard]] MoreSettings readMoreSettings(const QString& fileName, QStringList* problems = nullptr);
// nullopt on success, otherwise the system's reason; the old file is kept on failure.
[[nodiscard]] std::optional<QString> writeMoreSettings(const MoreSettings& settings, const QString& fileName);
