#pragma once

#include <QWidget>

namespace Ui {
class lampBuzzerCheck;
}

// The page on which the operator checks the danger lamp (F1 switches it on and
// off) and the buzzer (F2 pulses the beep line). Building the page also sets up
// the board's GPIO lines, so that they are ready at program start.
class lampBuzzerCheck : public QWidget
{
    Q_OBJECT
public:
    explicit lampBuzzerCheck(QWidget *parent = nullptr);
    ~lampBuzzerCheck() override;

    // Exports the board's output lines and sets their starting levels; touches
    // no page state.
    static void initialize();

public slots:
    void dangerLamp(bool enable);
    void keyBeep();
    void setKeyBeepState(bool enable);
    bool keyBeepState();

private:
    void createConnections();

    Ui::lampBuzzerCheck *ui;
    bool m_dangerLampOn;
    static bool s_keyBeepEnabled;
};
