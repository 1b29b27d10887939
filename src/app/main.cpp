#include "app/Mainform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    commandLine = args.join(QLatin1Char(' '));

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString::fromLatin1(applicationTitle));
    TformMain window;
    formMain = &window;
    window.show();
    return app.exec();
}
