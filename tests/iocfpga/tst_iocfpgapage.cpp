#include "iocfpgacheck.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

// What the operator sees on the IOC/FPGA page before and after a check,
// independent of the board.
class tst_IocFpgaPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsWithNoFindingsAndNoVerdicts();
    void verdictsAreRedWhateverTheySay_data();
    void verdictsAreRedWhateverTheySay();
    void buttonCaptionsBreakAfterTheirBlank_data();
    void buttonCaptionsBreakAfterTheirBlank();

private:
    QLabel *label(const char *name) const
    {
        return m_page->findChild<QLabel *>(QLatin1String(name));
    }

    iocFpgaCheck *m_page = nullptr;
};

namespace {

const QColor VerdictRed(225, 26, 26);

// Pixels of the label's rendering in exactly the verdict red, and in any
// clearly reddish tone (anti-aliased glyph edges included).
int exactRedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == VerdictRed.rgb();
    return count;
}

int reddishPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > c.green() + 60 && c.red() > c.blue() + 60;
        }
    return count;
}

} // namespace

void tst_IocFpgaPage::init()
{
    m_page = new iocFpgaCheck;
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page));
}

void tst_IocFpgaPage::cleanup()
{
    delete m_page;
    m_page = nullptr;
}

void tst_IocFpgaPage::startsWithNoFindingsAndNoVerdicts()
{
    QCOMPARE(label("fpgaId_label")->text(), QStringLiteral("---"));
    QCOMPARE(label("fpgaCheckResut_label")->text(), QString());
    QCOMPARE(label("iocCheck_label")->text(), QStringLiteral("---"));
    QCOMPARE(label("iocCheckResult_label")->text(), QString());
}

void tst_IocFpgaPage::verdictsAreRedWhateverTheySay_data()
{
    QTest::addColumn<QString>("labelName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("red");

    // Verdicts: red for success as well, so that the operator reads every one.
    QTest::newRow("FPGA success") << "fpgaCheckResut_label"
                                  << "FPGA Check Success!" << true;
    QTest::newRow("FPGA failure") << "fpgaCheckResut_label"
                                  << "FPGA Check FAIL!" << true;
    QTest::newRow("IOC success") << "iocCheckResult_label"
                                 << "IOC Check Suceccs!" << true;
    QTest::newRow("IOC failure") << "iocCheckResult_label"
                                 << "IOC Check FAIL!" << true;
    // Findings keep the page's default text colour.
    QTest::newRow("FPGA finding") << "fpgaId_label"
                                  << "Identification: 0xc22015" << false;
    QTest::newRow("IOC finding") << "iocCheck_label"
                                 << "IOC was recognized as USB." << false;
}

void tst_IocFpgaPage::verdictsAreRedWhateverTheySay()
{
    QFETCH(QString, labelName);
    QFETCH(QString, text);
    QFETCH(bool, red);

    QLabel *target = m_page->findChild<QLabel *>(labelName);
    QVERIFY(target);
    target->setText(text);
    const QImage image = target->grab().toImage();
    if (red)
        QVERIFY2(exactRedPixels(image) > 0, "no glyph pixel in rgb(225, 26, 26)");
    else
        QCOMPARE(reddishPixels(image), 0);
}

void tst_IocFpgaPage::buttonCaptionsBreakAfterTheirBlank_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QStringList>("lines");

    // The blank stays at the end of the first line, as on the panel's labels.
    QTest::newRow("F1 FPGA") << "fpgaCheckButton" << QStringList{"FPGA ID ", "Check"};
    QTest::newRow("F2 IOC") << "iocCheckButton" << QStringList{"IOC ", "Check"};
}

void tst_IocFpgaPage::buttonCaptionsBreakAfterTheirBlank()
{
    QFETCH(QString, buttonName);
    QFETCH(QStringList, lines);

    auto *button = m_page->findChild<QPushButton *>(buttonName);
    QVERIFY(button);
    QCOMPARE(button->text().split(QLatin1Char('\n')), lines);
    // A real line feed, not an escaped one: the caption needs two lines of height.
    QPushButton oneLine(lines.last());
    oneLine.setFont(button->font());
    QVERIFY(button->sizeHint().height() >=
            oneLine.sizeHint().height() + button->fontMetrics().lineSpacing() - 1);
}

QTEST_MAIN(tst_IocFpgaPage)
#include "tst_iocfpgapage.moc"
