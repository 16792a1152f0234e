#include "panellamp.h"

#include <QPainter>

PanelLamp::PanelLamp(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PanelLamp::setColor(const QColor &color)
{
    m_color = color;
    update();
}

QSize PanelLamp::sizeHint() const
{
    return QSize(22, 22);
}

void PanelLamp::setLit(bool lit)
{
    if (lit == m_lit)
        return;
    m_lit = lit;
    update();
}

void PanelLamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_lit ? m_color : m_color.darker(400));
    const int side = qMin(width(), height()) - 2;
    painter.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}
