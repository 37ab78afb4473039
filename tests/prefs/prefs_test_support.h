#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

inline std::ostream& operator<<(std::ostream& os, const QString& text)
{
    return os << '"' << text.toStdString() << '"';
}

// Every test gets its own empty config home, so nothing reaches the real one.
struct PrefsFolderTest : ::testing::Test {
    QTemporaryDir home;
    QString folder = home.path() + QStringLiteral("/painel-sinaletico");
    QString file = folder + QStringLiteral("/pref.vyr");

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    }

    void put(const QByteArray& bytes) const
    {
        QDir().mkpath(folder);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    [[nodiscard]] QByteArray bytes() const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
    }

    [[nodiscard]] QStringList folderEntries() const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                      | QDir::NoDotAndDotDot);
    }
};
