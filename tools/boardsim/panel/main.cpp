// boardsim-panel: the simulated board's front panel, run inside boardsim next
// to the check mode.

#include "boardpanel.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BoardPanel panel;
    // Without the board there is nothing to show: quit quietly, as boardsim
    // ending is the normal way for the panel to end.
    QObject::connect(&panel, &BoardPanel::boardGone, &app, &QApplication::quit);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        if (const auto at = BoardPanel::placeBesideCheckMode(screen->geometry()))
            panel.move(*at);
    }
    panel.show();
    return app.exec();
}
