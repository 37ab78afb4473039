// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One field of a CSV record (RFC 4180): quoted when it holds a comma, a quote or a line break.
[[nodiscard]] QByteArray csvField(const QString& text);
// One record, its fields joined by commas and ended by CR LF, in UTF-8.
[[nodiscard]] QByteArray csvRecord(const QStringList& fields);
