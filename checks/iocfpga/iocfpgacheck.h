#pragma once

#include <QWidget>

class QProcess;
namespace Ui {
class iocFpgaCheck;
}

// The last two checks: the FPGA flash identification read by the `flash` tool,
// and the IOC brought onto USB and looked for under the automount directory.
// Each check reports only through the finding and verdict labels of the page.
class iocFpgaCheck : public QWidget
{
    Q_OBJECT
public:
    explicit iocFpgaCheck(QWidget *parent = nullptr);
    ~iocFpgaCheck() override;

public slots:
    void fpgaIdCheck();
    void iocIdCheck();
    bool searchIocUsbMemory();

private:
    void createConnections();
    void judgeFpgaOutput();

    Ui::iocFpgaCheck *ui;
    QProcess *m_process;
};
