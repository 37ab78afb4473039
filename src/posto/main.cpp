// SPDX-License-Identifier: GPL-3.0-or-later
#include "painel_version.h"
#include "platform/qt_translation.h"
#include "posto/post_service.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    const QCoreApplication app(argc, argv);
    // The desk program's name: its folders, its lock and its door are the post's.
    QCoreApplication::setApplicationName(QStringLiteral("painel-sinaletico"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PAINEL_VERSION));
    installQtTranslation();
    return runPostService(QCoreApplication::arguments());
}
