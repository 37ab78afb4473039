// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// The rows of the journal in `file` that match `where`, oldest first, each as `columns` joined by '|'.
inline QStringList journalRows(const QString& file, const QString& columns = QStringLiteral("origem, acao, sinal, resultado"), const QString& where = QStringLiteral("1"))
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-rows"));
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT %1 FROM registo WHERE %2 ORDER BY id").arg(columns, where), db);
            while (query.next()) {
                QStringList fields;
                for (int i = 0; i < query.record().count(); ++i) fields << query.value(i).toString();
                rows << fields.join(QLatin1Char('|'));
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-rows"));
    return rows;
}

// The first value `statement` gives on `file`, which it may change.
inline QString sqlValue(const QString& file, const QString& statement)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-value"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(statement, db);
            if (query.next()) value = query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-value"));
    return value;
}
