#pragma once

#include <QWidget>

// Placeholder page; replaced by the real check.
class iocFpgaCheck : public QWidget
{
    Q_OBJECT
public:
    explicit iocFpgaCheck(QWidget *parent = nullptr);
};
