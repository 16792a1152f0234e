#pragma once

#include "boardsimclient.h"

#include <QJsonObject>
#include <QString>

// What the simulated board has seen happen to the encoder's device node.
class EncoderDevice
{
public:
    static QString path() { return QStringLiteral("/dev/input/event0"); }

    // Number of operations `op` on the device in the transcript so far.
    static int count(BoardSimClient &board, const QString &op)
    {
        int n = 0;
        for (const QJsonObject &row : board.transcript()) {
            if (row.value(QStringLiteral("op")).toString() == op &&
                row.value(QStringLiteral("path")).toString() == path())
                ++n;
        }
        return n;
    }
};
