#include "core/Texts.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace telvox;

class tst_Texts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_table.loadBuiltIn()); }

    void everyTextExistsInAllThreeLanguages()
    {
        int checked = 0;
        for (int id = 1001; id <= 1999; ++id) {
            if (!m_table.contains(id))
                continue;
            ++checked;
            const QString en = m_table.text(id);
            const QString gb = m_table.text(id + 1000);
            const QString big5 = m_table.text(id + 2000);
            QVERIFY2(!gb.isEmpty() && !big5.isEmpty(), qPrintable(QString::number(id)));
            // Blanks around a text are part of its layout in every language.
            const auto leading = [](const QString &s) { return s.size() - QString(s).remove(QRegularExpression("^ +")).size(); };
            QCOMPARE(leading(gb), leading(en));
            QCOMPARE(leading(big5), leading(en));
            // Each translation asks for the same values ("%1", ...) as the English text.
            const auto values = [](const QString &s) {
                QStringList found;
                for (auto it = QRegularExpression("%[1-9]").globalMatch(s); it.hasNext();)
                    found << it.next().captured();
                found.sort();
                return found;
            };
            QVERIFY2(values(gb) == values(en) && values(big5) == values(en), qPrintable(QString::number(id)));
            if (id != 1004 && en.contains(QRegularExpression("[a-z]{4}")) && !en.startsWith("Line"))
                QVERIFY2(gb != en && big5 != en, qPrintable(QString("untranslated %1").arg(id)));
        }
        QVERIFY(checked >= 98);
    }

    // An id outside 1001-1999 would be dropped by the loader (or land on another text's
    // translation), and a repeated id silently replaces an earlier text: the shipped table
    // has neither.
    void everyLineOfTheShippedTableIsLoadedOnce()
    {
        QFile file(QStringLiteral(":/telvox/strings/strings.tsv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QSet<int> seen;
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            bool ok = false;
            const int id = line.section(QLatin1Char('\t'), 0, 0).toInt(&ok);
            QVERIFY2(ok && id >= 1001 && id <= 1999, qPrintable(QStringLiteral("id out of range: ") + line.left(12)));
            QVERIFY2(!seen.contains(id), qPrintable(QStringLiteral("id used twice: %1").arg(id)));
            QVERIFY2(line.count(QLatin1Char('\t')) == 3, qPrintable(QStringLiteral("not four fields: %1").arg(id)));
            seen.insert(id);
        }
        QCOMPARE(StringTable().loadText(QString::fromUtf8(lines.join(QLatin1Char('\n')).toUtf8())), int(seen.size()));
    }

    void loaderAddsTheLanguageOffset_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("expected");
        QTest::newRow("English") << "0" << 1033 << "End of Recording";
        QTest::newRow("Simplified") << "1" << 1033 << "录音结束";
        QTest::newRow("Traditional") << "2" << 1033 << "錄音結束";
        QTest::newRow("leading blank kept") << "0" << 1060 << " Start Recording";
        QTest::newRow("outer blanks kept") << "0" << 1081
                                           << QString(13, ' ') + "Setting is complete,please reload Telvox" + QString(12, ' ');
        QTest::newRow("bad value falls back to English") << "7" << 1014 << "Exit";
        QTest::newRow("not a number") << "x" << 1014 << "Exit";
    }
    void loaderAddsTheLanguageOffset()
    {
        QFETCH(QString, language);
        QFETCH(int, number);
        QFETCH(QString, expected);
        const Texts texts(m_table, languageOffsetFor(language));
        QCOMPARE(texts.LoadText(number), expected);
    }

    void malformedRowsAreSkipped()
    {
        StringTable table;
        QCOMPARE(table.loadText("# comment\n1050\tAgree\t同意\t同意\r\nbroken line\n1051\tonly two\n"
                                 "1052\tone\ttoo\tmany\tfields\n1053\t\t\t\n"),
                 2);
        const Texts traditional(table, 2000);
        QCOMPARE(traditional.LoadText(1050), QString("同意"));
        QCOMPARE(traditional.LoadText(1051), QString()); // malformed rows are skipped
        QCOMPARE(traditional.LoadText(1052), QString());
        QVERIFY(table.contains(3053)); // empty texts are texts
    }

private:
    StringTable m_table;
};

QTEST_GUILESS_MAIN(tst_Texts)
#include "tst_Texts.moc"
