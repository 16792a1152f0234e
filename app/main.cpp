#include "groundwork.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
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
