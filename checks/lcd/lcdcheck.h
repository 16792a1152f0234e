#pragma once

#include <QWidget>

class QShortcut;
namespace Ui {
class lcdcheck;
}

// Fills the panel with one plain colour at a time so that the LCD can be
// inspected for dead pixels and colour faults.
class lcdcheck : public QWidget
{
    Q_OBJECT
public:
    explicit lcdcheck(QWidget *parent = nullptr);
    ~lcdcheck() override;

    // Shows colour `index` of the cycle; an index outside the cycle is ignored.
    void colorShow(int index);

private slots:
    void on_pushColorChanged(int colorCnt);

private:
    void createConnections();
    void nextColor();
    void toggleButton();

    Ui::lcdcheck *ui;
    QShortcut *m_hideShortcut;
    bool m_buttonShown = true;
    int m_colorIndex = 0;
};
