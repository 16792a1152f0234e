#pragma once

#include <QDialog>

class QTimer;
namespace Ui {
class PictTimerMsg;
}

// "Searching IOC" with a filling bar: the only wait the IOC check makes for the
// IOC to come up as USB storage. It closes itself a fixed time after it was
// constructed, so time the caller spends before exec() counts against the wait.
class PictTimerMsg : public QDialog
{
    Q_OBJECT
public:
    explicit PictTimerMsg(QWidget *parent = nullptr);
    ~PictTimerMsg() override;

    // Starts the bar; exec() afterwards shows it filling.
    void timerStart();
    // Waits `ms` milliseconds while events go on being processed.
    void Sleep(int ms);

private slots:
    void updateBar();

public slots:
    void hideMsg();

private:
    void createWidgets();
    void createLayout();
    void createConnections();

    Ui::PictTimerMsg *ui;
    QTimer *m_timer;
    int m_hideDelay;
    int m_barValue = 0;
    int m_barMaximum;
};
