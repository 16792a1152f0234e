#pragma once

#include <QWidget>

class QProcess;
class QTimer;
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

    // A flash read still running this long after it started is killed: the
    // identification is one SPI command that the tool answers within a
    // second on the board, so ten times that is ample even on a busy board,
    // yet short enough that an operator still watching the page can press F1
    // again.
    static constexpr int FpgaReadTimeoutMs = 10000;
    // Output is judged at most once in this time: a tool that floods its
    // output would otherwise keep the GUI thread laying out labels and
    // writing the debug log as fast as the pipe fills. A later piece that
    // arrives meanwhile is held and judged when the time is up, so the last
    // piece's verdict still stands.
    static constexpr int FpgaJudgeIntervalMs = 100;

public slots:
    void fpgaIdCheck();
    void iocIdCheck();
    bool searchIocUsbMemory();

private:
    void createConnections();
    void takeFpgaOutput();
    void judgeFpgaOutput();
    void endFpgaRead();

    Ui::iocFpgaCheck *ui;
    QProcess *m_process;
    QTimer *m_fpgaReadTimer;
    QTimer *m_fpgaJudgeTimer;
    // The size of the latest piece of output, held unjudged in the process
    // object's buffer; 0 when none is held.
    qint64 m_fpgaHeldBytes = 0;
};
