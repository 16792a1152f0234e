#include "groundwork.h"
#include "stopsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Qt's Unix theme, which X runs with, makes the default font 9 points;
    // linuxfb has no theme and falls back on QFont's 12, too large for the
    // soft keys and the version label that the forms size for 9.
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    // The same theme's style: with none, linuxfb draws the soft keys flat.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // After QApplication: linuxfb sets its own handlers while it is built.
    StopSignals stopSignals;
    int result;
    {
        // The window goes before the application object: its destructor ends
        // the encoder thread and deletes the pages.
        groundwork window;
        window.show();
        result = app.exec();
    }
    return result;
}
