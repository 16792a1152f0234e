#pragma once

#include <QColor>
#include <QWidget>

// A round lamp of the panel: lit in its colour, dark when off, as an LED on
// the instrument's front would look.
class PanelLamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool lit READ isLit WRITE setLit)
    Q_PROPERTY(QColor color READ color WRITE setColor)
public:
    explicit PanelLamp(QWidget *parent = nullptr);

    bool isLit() const { return m_lit; }
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    QSize sizeHint() const override;

public slots:
    void setLit(bool lit);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_lit = false;
    QColor m_color = Qt::red;
};
