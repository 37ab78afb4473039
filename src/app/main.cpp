#include "app/startup.h"
#include "program_icon.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("painel-sinaletico"));
    QApplication::setWindowIcon(programIcon());
    return Main();
}
