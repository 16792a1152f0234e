// The smallest Qt Widgets program of the check mode's screen: one white
// window of 800 x 480, shown as checkmode shows its own. bench/vm-start-ratio.sh
// starts it under the check mode's environment in the virtual board and times
// its first frame on /dev/fb0 against the check mode's: the ratio is what the
// check mode's own start-up (forms, GPIO lines, encoder thread) costs above
// Qt's and the platform's.
#include <QApplication>
#include <QPalette>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(800, 480);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, Qt::white);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.show();
    return app.exec();
}
