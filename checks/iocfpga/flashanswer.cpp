#include "flashanswer.h"

FlashVerdict judgeFlashOutput(QByteArray piece, const QString &expected)
{
    // The tool writes C strings; whatever follows a NUL is not part of the answer.
    const int nul = piece.indexOf('\0');
    if (nul >= 0)
        piece.truncate(nul);
    FlashVerdict verdict;
    verdict.identification = QString::fromUtf8(piece).trimmed();
    verdict.success = verdict.identification == expected;
    return verdict;
}
