#pragma once

#include <QWidget>

// Placeholder page; replaced by the real check.
class lampBuzzerCheck : public QWidget
{
    Q_OBJECT
public:
    explicit lampBuzzerCheck(QWidget *parent = nullptr);
};
