#pragma once

#include <QByteArray>
#include <QString>

// What the IOC/FPGA page makes of one piece of `flash -o rdid` output.
struct FlashVerdict
{
    // The text shown: the piece as UTF-8 up to its first NUL, white space
    // trimmed from both ends.
    QString identification;
    // The shown text is `expected`, whole and case-sensitive.
    bool success = false;
};

// Pure, so that every piece can be judged alone (the last one's verdict
// stands) and without a page.
FlashVerdict judgeFlashOutput(QByteArray piece, const QString &expected);
