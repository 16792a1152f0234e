#pragma once

#include "boardsimclient.h"

#include <QJsonObject>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QButtonGroup;
class QGridLayout;
class BoardWatcher;

namespace Ui {
class BoardPanel;
}

// The simulated board's front panel: shows the lamp, beep and other output
// lines the check mode drives, turns the encoder with a dial, presses the
// keypad's keys and switches the IOC and flash scenarios. A client of boardsim's control socket, so
// the check mode itself runs unchanged beside it.
class BoardPanel : public QWidget
{
    Q_OBJECT
public:
    // An empty path means $BOARDSIM_CONTROL.
    explicit BoardPanel(const QString &socketPath = QString(), QWidget *parent = nullptr);
    ~BoardPanel() override;

    // Where the panel goes on a screen wide enough to hold it right of the
    // 800 x 480 check-mode window at 0,0; none on a narrower one.
    static std::optional<QPoint> placeBesideCheckMode(const QRect &screen);

    // How long the beep lamp stays lit after a write to the beep line.
    static constexpr int beepFlashMs = 150;

signals:
    // boardsim ended: its control socket no longer answers.
    void boardGone();

private slots:
    void showState(const QJsonObject &state);
    void showTranscript(const QVector<QJsonObject> &entries);
    void turnEncoder(int dialValue);
    void chooseScenario(const QString &key, QAbstractButton *button);

private:
    void setupUi();
    void createWidgets();
    void createConnections();
    void createKeypad();
    QButtonGroup *createSwitches(QGridLayout *layout, const QString &key, int columns);
    void showScenario(QButtonGroup *group, const QString &value);
    void showPosition(int position);

    Ui::BoardPanel *ui;
    const QString m_socketPath;
    BoardSimClient m_client;
    BoardWatcher *m_watcher = nullptr;
    QButtonGroup *m_iocGroup = nullptr;
    QButtonGroup *m_flashGroup = nullptr;
    QTimer m_beepFlash;
    int m_beepCount = 0;
    int m_dialValue = 0;
};
