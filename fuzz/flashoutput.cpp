// How the IOC/FPGA page judges the flash tool's standard output. The tool's
// output reaches the page in pieces of whatever size the pipe delivered, and
// every piece is judged alone. Input: the output; each 0xff byte ends a piece
// (never part of valid UTF-8, so the split never hides a character).
#include "boardtools.h"
#include "flashanswer.h"
#include "fuzzcheck.h"

#include <QList>

#include <cstddef>
#include <cstdint>

namespace {

const QString Expected = QString::fromLatin1(board::FlashIdentification);

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void judgePiece(const QByteArray &piece)
{
    const FlashVerdict verdict = judgeFlashOutput(piece, Expected);
    const QString &shown = verdict.identification;

    FUZZ_CHECK(verdict.success == (shown == Expected));
    FUZZ_CHECK(!shown.contains(QChar(0)));
    FUZZ_CHECK(shown == shown.trimmed());
    // One UTF-16 unit at most per byte: a malformed byte gives one replacement.
    const int nul = piece.indexOf('\0');
    const QByteArray answer = nul >= 0 ? piece.left(nul) : piece;
    FUZZ_CHECK(shown.size() <= answer.size());

    // The expected answer in ASCII white space, as a tool prints it, passes.
    int first = 0;
    int last = answer.size();
    while (first < last && isAsciiSpace(answer[first]))
        ++first;
    while (last > first && isAsciiSpace(answer[last - 1]))
        --last;
    const QByteArray core = answer.mid(first, last - first);
    if (core == Expected.toLatin1())
        FUZZ_CHECK(verdict.success);
    // A pass needs the expected text in the bytes before the NUL, nothing
    // after it counts, and white space alone never passes.
    if (verdict.success)
        FUZZ_CHECK(answer.contains(Expected.toLatin1()));
    if (core.isEmpty())
        FUZZ_CHECK(shown.isEmpty() || !verdict.success);

    // The same bytes give the same verdict: the page holds no state between pieces.
    const FlashVerdict again = judgeFlashOutput(piece, Expected);
    FUZZ_CHECK(again.identification == shown && again.success == verdict.success);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray output =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    for (const QByteArray &piece : output.split('\xff'))
        judgePiece(piece);
    return 0;
}
