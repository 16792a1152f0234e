#pragma once

#include "panelkeys.h"
#include "rotaryencoder.h"

#include <QWidget>

class QShortcut;
class QStackedWidget;
class lcdcheck;
class lampBuzzerCheck;
class iocFpgaCheck;
namespace Ui {
class groundwork;
}

// The check mode's one window: the page stack, the soft-key bar that switches
// pages, the window-wide clear + 1 / clear + stop shortcuts, and the keyboard
// test, which sees every key press that no shortcut takes.
class groundwork : public QWidget
{
    Q_OBJECT
public:
    explicit groundwork(QWidget *parent = nullptr);
    ~groundwork() override;

signals:
    void keyPress();
    void keyRelease();

public slots:
    void onHomeChange();
    void onLCDCheckChange();
    void onKeyTestChange();
    void onLampBChange();
    void onIocFpgaCChenge();
    void onKeyTestReset();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void createWidgets();
    void createConnections();
    void showPage(QWidget *page, bool softKeysShown);
    void onforwardProgber(int keyIndex);
    void onEncoderValue(short axis);

    // Declared first so that it is destroyed last: its destructor ends the
    // reader thread, which must not outlive the object it runs in.
    RotaryEncoder m_encoder;
    Ui::groundwork *ui;
    QStackedWidget *m_stack = nullptr;
    lcdcheck *m_lcdCheck = nullptr;
    lampBuzzerCheck *m_lampBuzzerCheck = nullptr;
    iocFpgaCheck *m_iocFpgaCheck = nullptr;
    QWidget *m_keyTestPage = nullptr;
    QWidget *m_homePage = nullptr;
    QShortcut *m_homeShortcut = nullptr;
    QShortcut *m_keyTestResetShortcut = nullptr;
    bool m_keyUntested[board::TestedKeyCount] = {};
    int m_testedCount = 0;
    int m_keyCount = 0;
};
