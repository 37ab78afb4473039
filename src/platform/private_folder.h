// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// Where this user's local door (a socket) and single-copy lock live: a folder that only this user
// can write to, so that nobody else can put a door of their own there first and answer in the
// program's name, nor hold its lock. The runtime folder ($XDG_RUNTIME_DIR) when it is such a folder;
// otherwise painel-sinaletico-<uid> in the temporary folder, made for the user alone and checked
// once made, as another user may have made it first. On Windows, the user's own temporary folder.
struct PrivateFolder {
    QString path;    // empty when none can be trusted
    QString problem; // why not, in the operator's words
};
[[nodiscard]] PrivateFolder privateFolder();

// Why `path` may not hold this user's door or lock: missing, not a folder, another user's, or
// open for others to write to. nullopt when it may.
[[nodiscard]] std::optional<QString> privateFolderProblem(const QString& path);
