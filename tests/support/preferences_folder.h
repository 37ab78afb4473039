// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/preferences_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

// Every test gets its own empty configuration folder.
struct PreferencesFile : ::testing::Test {
    QTemporaryDir home;
    QString folder = home.path() + QStringLiteral("/painel-sinaletico");
    QString file = preferencesPath(folder);

    void put(const QByteArray& bytes) const
    {
        QDir().mkpath(folder);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    [[nodiscard]] QByteArray bytes() const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : "<no file>";
    }
};

// A file's text with "|" for each CR LF.
inline std::string crlf(std::string text)
{
    for (std::size_t at; (at = text.find('|')) != std::string::npos;) text.replace(at, 1, "\r\n");
    return text;
}
