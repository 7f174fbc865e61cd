#include "app/AppState.h"
#include "app/TextTable.h"

#include <QTest>

class TestTextTable : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { LanguageIndex = 0; }

    void everyEntryIsFilled()
    {
        for (int row = 0; row < kTextRows; ++row) {
            for (int language = 0; language < kLanguages; ++language) {
                const char *text = TextTable[row * kLanguages + language];
                QVERIFY2(text && *text,
                         qPrintable(QStringLiteral("row %1, language %2").arg(row).arg(language)));
            }
        }
    }

    void textInLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("expected");

        QTest::newRow("first entry") << 0 << 0 << QStringLiteral("Waiting connection...");
        QTest::newRow("polish letters")
            << 4 << 0 << QStringLiteral(u"Oczekuj\u0105ce po\u0142\u0105czenie...");
        QTest::newRow("german umlaut") << 3 << 5 << QStringLiteral(u"Pr\u00fcfungsfehler !");
        QTest::newRow("german a umlaut") << 3 << 13 << QStringLiteral(u"S\u00e4ttigung :");
        QTest::newRow("capital umlaut") << 3 << 6 << QStringLiteral(u"\u00dcberpr\u00fcfung...");
        QTest::newRow("french accents") << 1 << 1 << QStringLiteral(u"Mat\u00e9riel connect\u00e9");
        QTest::newRow("kept as the device shows it")
            << 3 << 1 << QStringLiteral("Hardware vebunden");
        QTest::newRow("frequency label in kHz") << 0 << 14 << QStringLiteral("Freq. (kHz) :");
        QTest::newRow("no blank before colon") << 0 << 29 << QStringLiteral("Video PID:");
        QTest::newRow("last entry") << 5 << 30 << QStringLiteral("Audio PID :");
    }

    void textInLanguage()
    {
        QFETCH(int, language);
        QFETCH(int, row);
        QFETCH(QString, expected);
        LanguageIndex = language;
        QCOMPARE(GetText(row), expected);
    }

    void releaseRowEndsInBlank()
    {
        for (int language = 0; language < kLanguages; ++language) {
            LanguageIndex = language;
            QVERIFY2(GetText(3).endsWith(QLatin1Char(' ')), qPrintable(GetText(3)));
            QVERIFY(!GetText(3).endsWith(QLatin1String("  ")));
        }
    }

    void releaseMessage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("expected");
        QTest::newRow("english") << 0 << QStringLiteral("upgrade to release  2.3");
        QTest::newRow("polish") << 4 << QStringLiteral(u"Dost\u0119pna wersja oprog.  2.3");
    }

    void releaseMessage()
    {
        QFETCH(int, language);
        QFETCH(QString, expected);
        LanguageIndex = language;
        const int release = 23;
        QCOMPARE(QString::asprintf("%s %d.%d", GetText(3).toUtf8().constData(), release / 10,
                                   release % 10),
                 expected);
    }

    void outsideTheTableIsEmpty_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("row");
        QTest::newRow("row below") << 0 << -1;
        QTest::newRow("row above") << 0 << kTextRows;
        QTest::newRow("language below") << -1 << 0;
        QTest::newRow("language above") << kLanguages << 0;
    }

    void outsideTheTableIsEmpty()
    {
        QFETCH(int, language);
        QFETCH(int, row);
        LanguageIndex = language;
        QVERIFY(GetText(row).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestTextTable)
#include "tst_texttable.moc"
