#include "picttimermsg.h"
#include "ui_picttimermsg.h"

#include <QEventLoop>
#include <QTimer>

namespace {

// One tick adds as many bar units as it lasts in milliseconds, so the bar reads
// the time since timerStart() while ticks come on time.
constexpr int TickMs = 100;
constexpr int TickStep = 100;
// The automounter needs about five seconds after the IOC is switched onto USB.
constexpr int HideDelayMs = 5000;
// Full a little before the dialog closes, so the operator sees the wait end.
constexpr int BarMaximum = 4500;
// How long the full bar stays on screen before the dialog goes.
constexpr int FullBarPauseMs = 200;

} // namespace

PictTimerMsg::PictTimerMsg(QWidget *parent) : QDialog(parent), ui(new Ui::PictTimerMsg)
{
    ui->setupUi(this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(false);
    m_timer->setInterval(TickMs);
    // A coarse timer may slip by 5 %, which would make the bar lag behind the clock.
    m_timer->setTimerType(Qt::PreciseTimer);
    m_hideDelay = HideDelayMs;
    m_barMaximum = BarMaximum;
    createWidgets();
    createLayout();
    createConnections();
}

PictTimerMsg::~PictTimerMsg()
{
    delete ui;
}

void PictTimerMsg::createWidgets()
{
    ui->progressBar->setRange(0, m_barMaximum);
    ui->progressBar->setValue(0);
}

void PictTimerMsg::createLayout()
{
    // The fixed size of the form wins over the zero size; only the position counts.
    setGeometry(230, 150, 0, 0);
}

void PictTimerMsg::createConnections()
{
    connect(m_timer, SIGNAL(timeout()), this, SLOT(updateBar()));
    // Counted from construction, not from exec(): the caller's own set-up time
    // is part of the wait for the IOC. Precise: Qt runs a single shot of 2 s or
    // more as a coarse timer, which may fire 5 % (250 ms) early and so cut the
    // IOC's promised 5 s short. By name rather than by pointer: the pointer
    // overload's heap-allocated slot object reads as a leak to the analyser.
    QTimer::singleShot(m_hideDelay, Qt::PreciseTimer, this, SLOT(hideMsg()));
}

void PictTimerMsg::timerStart()
{
    m_timer->start();
}

void PictTimerMsg::updateBar()
{
    // Past the maximum QProgressBar ignores the value and stays full.
    m_barValue += TickStep;
    ui->progressBar->setValue(m_barValue);
}

void PictTimerMsg::Sleep(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, SLOT(quit()));
    loop.exec();
}

void PictTimerMsg::hideMsg()
{
    m_timer->stop();
    ui->progressBar->setValue(m_barMaximum);
    Sleep(FullBarPauseMs);
    accept();
}
