#include "app/startup.h"
#include "program_icon.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("painel-sinaletico"));
    QApplication::setDesktopFileName(QStringLiteral(PAINEL_APP_ID));
    QApplication::setWindowIcon(programIcon());
    return Main();
}
