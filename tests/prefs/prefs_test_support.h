#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

inline std::ostream& operator<<(std::ostream& os, const QString& text) { return os << text.toStdString(); }

// Every test gets its own empty config home, so nothing reaches the real one.
struct PrefsFolderTest : ::testing::Test {
    QTemporaryDir home;
    QString folder = home.path() + "/painel-sinaletico";
    QString file = folder + "/pref.vyr";

    void SetUp() override { qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path())); }

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

    [[nodiscard]] QStringList folderEntries() const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
};
