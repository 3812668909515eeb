#include "DemoLibrary.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "model/PosturePresenter.h"

#include <QTest>

Q_DECLARE_METATYPE(PostureSnapshot)
Q_DECLARE_METATYPE(PosturePresentation)

namespace {

const QDateTime kNow(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);

struct Lists {
    qsizetype outdated = 0;
    qsizetype atRisk = 0;
    qsizetype gaps = 0;
};

PostureSnapshot snapshot(bool scanned, Lists lists, std::optional<qint64> secondsAgo = std::nullopt,
                         std::optional<QString> error = std::nullopt)
{
    PostureSnapshot s;
    s.error = std::move(error);
    s.hasEverScanned = scanned;
    if (secondsAgo)
        s.lastScanDate = kNow.addSecs(-*secondsAgo);
    s.outdatedCount = lists.outdated;
    s.atRiskCount = lists.atRisk;
    s.sensingGapCount = lists.gaps;
    s.now = kNow;
    return s;
}

PosturePresentation line(const QString &title, PostureTone tone)
{
    return {title, std::nullopt, tone};
}

} // namespace

class TestPosturePresenter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What each posture tone says; the kit colours the tone (its tests hold
    // the tokens).
    void toneMeanings_data()
    {
        QTest::addColumn<PostureTone>("posture");
        QTest::addColumn<Tone>("tone");
        QTest::newRow("green") << PostureTone::green << Tone::good;
        QTest::newRow("orange") << PostureTone::orange << Tone::caution;
        QTest::newRow("red") << PostureTone::red << Tone::risk;
        QTest::newRow("neutral") << PostureTone::neutral << Tone::neutral;
    }

    void toneMeanings()
    {
        QFETCH(PostureTone, posture);
        QFETCH(Tone, tone);
        QCOMPARE(PosturePresenter::tone(posture), tone);
    }

    void menuBar_data()
    {
        QTest::addColumn<PostureSnapshot>("model");
        QTest::addColumn<PosturePresentation>("expected");

        const auto error = std::optional(QStringLiteral("boom"));
        QTest::newRow("error wins") << snapshot(false, {3, 1, 2}, 60, error)
                                    << line(QStringLiteral("status needs attention"), PostureTone::red);
        QTest::newRow("never scanned") << snapshot(false, {3, 1, 2}, 60)
                                       << line(QStringLiteral("not scanned yet"), PostureTone::neutral);
        QTest::newRow("outdated, no at-risk row")
            << snapshot(true, {1, 1, 0}, 90 * 60) << line(QStringLiteral("90m ago"), PostureTone::orange);
        QTest::newRow("outdated, minutes only")
            << snapshot(true, {2, 0, 0}, 125 * 60 + 59) << line(QStringLiteral("125m ago"), PostureTone::orange);
        QTest::newRow("outdated, no date")
            << snapshot(true, {2, 0, 0}) << line(QStringLiteral("not scanned yet"), PostureTone::orange);
        QTest::newRow("at risk only is not a row here")
            << snapshot(true, {0, 1, 0}, 30) << line(QStringLiteral("just now"), PostureTone::green);
        QTest::newRow("gaps") << snapshot(true, {0, 0, 4}, 30)
                              << line(QStringLiteral("4 not fully checked"), PostureTone::neutral);
        QTest::newRow("all current") << snapshot(true, {}, 59) << line(QStringLiteral("just now"), PostureTone::green);
        QTest::newRow("all current, no date")
            << snapshot(true, {}) << line(QStringLiteral("status unknown"), PostureTone::green);
        QTest::newRow("scan in the future")
            << snapshot(true, {}, -3600) << line(QStringLiteral("just now"), PostureTone::green);
    }

    void menuBar()
    {
        QFETCH(PostureSnapshot, model);
        QFETCH(PosturePresentation, expected);
        QCOMPARE(PosturePresenter::menuBar(model), expected);
    }

    void statusBar_data()
    {
        QTest::addColumn<PostureSnapshot>("model");
        QTest::addColumn<PosturePresentation>("expected");

        const auto error = std::optional(QStringLiteral("boom"));
        QTest::newRow("error wins") << snapshot(true, {3, 1, 2}, 60, error)
                                    << line(QStringLiteral("Brusk needs inspection."), PostureTone::red);
        QTest::newRow("never scanned") << snapshot(false, {3, 1, 2}, 60)
                                       << line(QStringLiteral("Brusk app check: not yet run"), PostureTone::neutral);
        QTest::newRow("at risk before outdated, hours")
            << snapshot(true, {1, 1, 0}, 90 * 60) << line(QStringLiteral("Brusk app check: 1h ago"), PostureTone::red);
        QTest::newRow("at risk that is not outdated")
            << snapshot(true, {0, 1, 0}, 59 * 60) << line(QStringLiteral("Brusk app check: 59m ago"), PostureTone::red);
        QTest::newRow("outdated, just now")
            << snapshot(true, {2, 0, 0}, 30) << line(QStringLiteral("Brusk app check: just now"), PostureTone::orange);
        QTest::newRow("outdated, no date")
            << snapshot(true, {2, 0, 0}) << line(QStringLiteral("Brusk app check: just now"), PostureTone::orange);
        QTest::newRow("gaps") << snapshot(true, {0, 0, 1}, 30)
                              << line(QStringLiteral("1 not fully checked."), PostureTone::neutral);
        QTest::newRow("all current, a day")
            << snapshot(true, {}, 25 * 3600) << line(QStringLiteral("Brusk app check: 25h ago"), PostureTone::green);
        QTest::newRow("all current, no date")
            << snapshot(true, {}) << line(QStringLiteral("Scan status unknown."), PostureTone::green);
    }

    void statusBar()
    {
        QFETCH(PostureSnapshot, model);
        QFETCH(PosturePresentation, expected);
        QCOMPARE(PosturePresenter::statusBar(model), expected);
    }

    void diagnostics_data()
    {
        QTest::addColumn<PostureSnapshot>("model");
        QTest::addColumn<QString>("health");
        QTest::addColumn<QString>("repair");
        QTest::addColumn<QString>("title");
        QTest::addColumn<PostureTone>("tone");

        QTest::newRow("error wins") << snapshot(true, {}, 60, QStringLiteral("x")) << QStringLiteral("fail")
                                    << QStringLiteral("failed")
                                    << QStringLiteral("Diagnostics confirm a visible failure") << PostureTone::red;
        QTest::newRow("repair FAILED before health")
            << snapshot(true, {}) << QStringLiteral("2 checks fail") << QStringLiteral("Repair FAILED: manifest")
            << QStringLiteral("Repair attempt failed") << PostureTone::red;
        QTest::newRow("repair without failure") << snapshot(true, {}) << QString() << QStringLiteral("Repaired.")
                                                << QStringLiteral("Diagnostics available") << PostureTone::green;
        QTest::newRow("health Failure") << snapshot(false, {}) << QStringLiteral("sqlite: Failure")
                                        << QStringLiteral("ok") << QStringLiteral("Health check found issues")
                                        << PostureTone::orange;
        QTest::newRow("scanned") << snapshot(true, {}) << QStringLiteral("all good") << QString()
                                 << QStringLiteral("Diagnostics available") << PostureTone::green;
        QTest::newRow("no baseline") << snapshot(false, {}) << QString() << QString()
                                     << QStringLiteral("No trusted baseline yet") << PostureTone::neutral;
    }

    void diagnostics()
    {
        QFETCH(PostureSnapshot, model);
        QFETCH(QString, health);
        QFETCH(QString, repair);
        QFETCH(QString, title);
        QFETCH(PostureTone, tone);
        const PosturePresentation result = PosturePresenter::diagnostics(model, health, repair);
        QCOMPARE(result.title, title);
        QCOMPARE(result.tone, tone);
        QVERIFY(result.detail && !result.detail->isEmpty());
    }

    void diagnosticsDetails()
    {
        QCOMPARE(PosturePresenter::diagnostics(snapshot(false, {}), QString(), QString()).detail,
                 std::optional(QStringLiteral("VARNO has not completed a trusted scan on this machine yet.")));
        QCOMPARE(PosturePresenter::diagnostics(snapshot(true, {}), QStringLiteral("FAIL"), QString()).detail,
                 std::optional(QStringLiteral("One or more local checks reported a problem. Review the report before "
                                              "trusting the current library state.")));
    }

    // The demo library, counted as the model counts it, reads as outdated
    // with apps at risk.
    void demoLibraryPosture()
    {
        PostureSnapshot model = snapshot(true, {}, 5 * 60);
        for (const AppRecord &app : PresentersTest::demoLibrary()) {
            model.outdatedCount += app.isOutdated() ? 1 : 0;
            model.atRiskCount += app.statusColor() == AppStatusColor::atRisk ? 1 : 0;
            model.sensingGapCount += (app.isUnmeasured() || app.isUnknownStatus()) ? 1 : 0;
        }
        QVERIFY(model.outdatedCount > 0 && model.atRiskCount > 0 && model.sensingGapCount > 0);
        QCOMPARE(PosturePresenter::menuBar(model), line(QStringLiteral("5m ago"), PostureTone::orange));
        QCOMPARE(PosturePresenter::statusBar(model), line(QStringLiteral("Brusk app check: 5m ago"), PostureTone::red));
    }

    void shortVersion_data()
    {
        QTest::addColumn<std::optional<QString>>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        auto v = [](const QString &s) { return std::optional(s); };

        QTest::newRow("absent") << std::optional<QString>() << 20 << QStringLiteral("?");
        QTest::newRow("empty") << v(QString()) << 20 << QStringLiteral("?");
        QTest::newRow("comma suffix") << v(QStringLiteral("1.2.3,45")) << 20 << QStringLiteral("1.2.3");
        QTest::newRow("first comma takes the rest") << v(QStringLiteral("1.2,3,4")) << 20 << QStringLiteral("1.2");
        QTest::newRow("plus hash") << v(QStringLiteral("4.5.6+abcdef1")) << 20 << QStringLiteral("4.5.6");
        QTest::newRow("parenthesised build") << v(QStringLiteral("7.0 (a1b2c3)")) << 20 << QStringLiteral("7.0");
        QTest::newRow("parenthesised with blanks") << v(QStringLiteral("7.0 (12 34 56)")) << 20 << QStringLiteral("7.0");
        QTest::newRow("bracketed build") << v(QStringLiteral("2.1 [deadbeef]")) << 20 << QStringLiteral("2.1");
        QTest::newRow("git describe") << v(QStringLiteral("3.0-gabcdef0")) << 20 << QStringLiteral("3.0");
        QTest::newRow("short hash kept") << v(QStringLiteral("1.0+abc")) << 20 << QStringLiteral("1.0+abc");
        QTest::newRow("suffix not at the end kept")
            << v(QStringLiteral("1.0+abcdef x")) << 20 << QStringLiteral("1.0+abcdef x");
        QTest::newRow("demo build number in parentheses is not hex-long enough")
            << v(QStringLiteral("4.0 (1234)")) << 24 << QStringLiteral("4.0 (1234)");
        QTest::newRow("blanks and tabs trimmed") << v(QStringLiteral(" \t2.0\t ")) << 20 << QStringLiteral("2.0");
        QTest::newRow("exactly the limit")
            << v(QStringLiteral("12345678901234567890")) << 20 << QStringLiteral("12345678901234567890");
        QTest::newRow("limit 20") << v(QStringLiteral("123456789012345678901")) << 20
                                  << QStringLiteral("123456789…45678901");
        QTest::newRow("limit 24") << v(QStringLiteral("abcdefghijklmnopqrstuvwxyz")) << 24
                                  << QStringLiteral("abcdefghijk…qrstuvwxyz");
        QTest::newRow("limit 88") << v(QString(89, QLatin1Char('x')) + QStringLiteral("END")) << 88
                                  << QString(43, QLatin1Char('x')) + QStringLiteral("…") + QString(39, QLatin1Char('x'))
                + QStringLiteral("END");
        QTest::newRow("small limit keeps 4 and 4") << v(QStringLiteral("1234567890")) << 9 << QStringLiteral("1234…7890");
        QTest::newRow("limit 11 keeps 4 and 4") << v(QStringLiteral("abcdefghijkl")) << 11 << QStringLiteral("abcd…ijkl");
        QTest::newRow("limit 12 keeps 5 and 4")
            << v(QStringLiteral("abcdefghijklm")) << 12 << QStringLiteral("abcde…jklm");
        QTest::newRow("characters, not code units")
            << v(QStringLiteral("\U0001F600\U0001F600e\u0301\u00E9abcdefghijklmnopq")) << 20
            << QStringLiteral("\U0001F600\U0001F600e\u0301\u00E9abcde…jklmnopq");
        QTest::newRow("negative limit") << v(QStringLiteral("123")) << -1 << QStringLiteral("123…123");
    }

    void shortVersion()
    {
        QFETCH(std::optional<QString>, text);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        QCOMPARE(PosturePresenter::shortVersion(text, limit), expected);
    }

    void patternIsTheDocumentedOne()
    {
        QCOMPARE(PosturePresenter::displayVersionPattern().pattern().size(), 92);
        QVERIFY(PosturePresenter::displayVersionPattern().isValid());
    }
};

VARNO_TEST_CLASS(TestPosturePresenter)
#include "tst_posture.moc"
