#include "TestRegistry.h"

#include "records/VersionCompare.h"

#include <QTest>

Q_DECLARE_METATYPE(ComparisonResult)

class TestVersionCompare : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void components_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << QList<qint64>{1, 2, 3};
        QTest::newRow("1.2.10") << QStringLiteral("1.2.10") << QList<qint64>{1, 2, 10};
        QTest::newRow("2.0") << QStringLiteral("2.0") << QList<qint64>{2, 0};
        QTest::newRow("2") << QStringLiteral("2") << QList<qint64>{2};
        QTest::newRow("1.0b3") << QStringLiteral("1.0b3") << QList<qint64>{1, 0};
        QTest::newRow("1.0-beta") << QStringLiteral("1.0-beta") << QList<qint64>{1, 0, 0};
        QTest::newRow("1.2a3") << QStringLiteral("1.2a3") << QList<qint64>{1, 2};
        QTest::newRow("ver2.1") << QStringLiteral("ver2.1") << QList<qint64>{0, 1};
        QTest::newRow("2.1,5") << QStringLiteral("2.1,5") << QList<qint64>{2, 1};
        QTest::newRow("3.0+build7") << QStringLiteral("3.0+build7") << QList<qint64>{3, 0};
        QTest::newRow("1.2,3+4") << QStringLiteral("1.2,3+4") << QList<qint64>{1, 2};
        QTest::newRow("1.2+3,4") << QStringLiteral("1.2+3,4") << QList<qint64>{1, 2};
        QTest::newRow("blanks and a line break") << QStringLiteral(" 1.2 \n") << QList<qint64>{1, 2};
        QTest::newRow("unicode white space") << QStringLiteral("\u2003\u00A01.2\u2028") << QList<qint64>{1, 2};
        QTest::newRow("4.0 (1234)") << QStringLiteral("4.0 (1234)") << QList<qint64>{4, 0};
        QTest::newRow("1..2") << QStringLiteral("1..2") << QList<qint64>{1, 0, 2};
        QTest::newRow("1_2-3") << QStringLiteral("1_2-3") << QList<qint64>{1, 2, 3};
        QTest::newRow("1. 2") << QStringLiteral("1. 2") << QList<qint64>{1, 0};
        QTest::newRow("2024.01") << QStringLiteral("2024.01") << QList<qint64>{2024, 1};
        QTest::newRow("empty") << QString() << QList<qint64>{0};
        QTest::newRow("separators at both ends") << QStringLiteral(".5-") << QList<qint64>{0, 5, 0};
        QTest::newRow("twenty nines overflow") << QStringLiteral("99999999999999999999") << QList<qint64>{0};
        QTest::newRow("largest int64") << QStringLiteral("9223372036854775807.1")
                                       << QList<qint64>{9223372036854775807LL, 1};
        QTest::newRow("one past the largest") << QStringLiteral("9223372036854775808") << QList<qint64>{0};
        QTest::newRow("arabic-indic digit first") << QStringLiteral("\u0661.2") << QList<qint64>{0, 2};
        QTest::newRow("ascii then another script's digit") << QStringLiteral("1\u0662.3") << QList<qint64>{0, 3};
        QTest::newRow("vulgar fraction is numeric") << QStringLiteral("3\u00BD.1") << QList<qint64>{0, 1};
        QTest::newRow("mathematical digit outside the BMP") << QStringLiteral("\U0001D7CF.4") << QList<qint64>{0, 4};
        QTest::newRow("blank kept before the cut") << QStringLiteral("1.2 +5") << QList<qint64>{1, 2};
    }

    void components()
    {
        QFETCH(QString, text);
        QFETCH(QList<qint64>, expected);
        QCOMPARE(VersionCompare::versionTuple(text), expected);
    }

    void compare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<ComparisonResult>("expected");
        const auto asc = ComparisonResult::orderedAscending;
        const auto same = ComparisonResult::orderedSame;
        const auto desc = ComparisonResult::orderedDescending;
        QTest::newRow("1.2.3 < 1.2.10") << QStringLiteral("1.2.3") << QStringLiteral("1.2.10") << asc;
        QTest::newRow("10 > 9") << QStringLiteral("10") << QStringLiteral("9") << desc;
        QTest::newRow("2.0 = 2") << QStringLiteral("2.0") << QStringLiteral("2") << same;
        QTest::newRow("7.0.0.0 = 7") << QStringLiteral("7.0.0.0") << QStringLiteral("7") << same;
        QTest::newRow("1.0b3 = 1.0") << QStringLiteral("1.0b3") << QStringLiteral("1.0") << same;
        QTest::newRow("3.0+build7 = 3.0") << QStringLiteral("3.0+build7") << QStringLiteral("3.0") << same;
        QTest::newRow("4.0 (1234) = 4.0") << QStringLiteral("4.0 (1234)") << QStringLiteral("4.0") << same;
        QTest::newRow("2024.01 = 2024.1") << QStringLiteral("2024.01") << QStringLiteral("2024.1") << same;
        QTest::newRow("ver2.1 < 1.9") << QStringLiteral("ver2.1") << QStringLiteral("1.9") << asc;
        QTest::newRow("1.2a3 < 1.2.1") << QStringLiteral("1.2a3") << QStringLiteral("1.2.1") << asc;
        QTest::newRow("empty = empty") << QString() << QString() << same;
        QTest::newRow("empty < 0.0.1") << QString() << QStringLiteral("0.0.1") << asc;
        QTest::newRow("empty = 0.0") << QString() << QStringLiteral("0.0") << same;
        QTest::newRow("1.2 < 1.10") << QStringLiteral("1.2") << QStringLiteral("1.10") << asc;
        QTest::newRow("twenty nines < 1") << QStringLiteral("99999999999999999999") << QStringLiteral("1") << asc;
        QTest::newRow("1.0-beta = 1.0") << QStringLiteral("1.0-beta") << QStringLiteral("1.0") << same;
    }

    void compare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(ComparisonResult, expected);
        QCOMPARE(VersionCompare::compare(a, b), expected);
        // Antisymmetric.
        QCOMPARE(int(VersionCompare::compare(b, a)), -int(expected));
    }
};

VARNO_TEST_CLASS(TestVersionCompare)

#include "tst_versioncompare.moc"
