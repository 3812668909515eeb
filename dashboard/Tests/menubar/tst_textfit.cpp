#include "TestRegistry.h"

#include "PanelFixture.h"

#include "menubar/MenuBarPanel.h"
#include "menubar/MenuBarPanelParts.h"
#include "platform/MainBundle.h"

#include <QFontMetrics>
#include <QTest>

using namespace PanelTest;

// The panel rendered offscreen at its fixed width: every text it shows gets
// the room it needs (one-line texts their whole advance, wrapped texts their
// lines), and the texts the panel may shorten end in "…" only when the room
// is truly too small.

namespace {

// What a label draws: elided labels draw their text shortened to their width.
QString shownText(const QLabel *label)
{
    if (const auto *limited = qobject_cast<const PanelLineLimitedLabel *>(label))
        return limited->linesFor(limited->contentsRect().width()).join(QLatin1Char(' '));
    if (qobject_cast<const PanelElidedLabel *>(label))
        return label->fontMetrics().elidedText(label->text(), Qt::ElideRight, label->contentsRect().width());
    return label->text();
}

// The labels whose text does not fit the space they were given.
QStringList textsThatDoNotFit(QWidget *panel)
{
    QStringList faults;
    const QRect panelRect = panel->rect();
    for (QLabel *label : panel->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(panel) || label->text().isEmpty())
            continue;
        const QRect area = label->contentsRect();
        const QFontMetrics metrics = label->fontMetrics();
        const QRect inPanel(label->mapTo(panel, area.topLeft()), area.size());
        bool fits = panelRect.contains(inPanel);
        if (qobject_cast<PanelLineLimitedLabel *>(label)) {
            const auto *limited = static_cast<PanelLineLimitedLabel *>(label);
            const QStringList lines = limited->linesFor(area.width());
            for (const QString &line : lines)
                fits = fits && metrics.horizontalAdvance(line) <= area.width();
            fits = fits && lines.size() * metrics.lineSpacing() <= area.height();
        } else if (qobject_cast<PanelElidedLabel *>(label)) {
            fits = fits && metrics.horizontalAdvance(shownText(label)) <= area.width();
        } else if (label->wordWrap()) {
            const QRect needed = metrics.boundingRect(QRect(0, 0, area.width(), 10000), Qt::TextWordWrap, label->text());
            fits = fits && needed.width() <= area.width() && needed.height() <= area.height();
        } else {
            fits = fits && metrics.horizontalAdvance(label->text()) <= area.width() && metrics.height() <= area.height();
        }
        if (!fits)
            faults << QStringLiteral("\"%1\" in %2x%3").arg(label->text()).arg(area.width()).arg(area.height());
    }
    return faults;
}

QLabel *labelNamed(QWidget *panel, const char *name)
{
    return panel->findChild<QLabel *>(QLatin1String(name));
}

} // namespace

class TestPanelTextFit : public QObject {
    Q_OBJECT

    std::unique_ptr<VarnoTest::TempHome> m_home;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MenuBarPanel> m_panel;

    void show()
    {
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
        QCOMPARE(m_panel->width(), MenuBarPanel::kWidth);
    }

private Q_SLOTS:
    void init()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_home = std::make_unique<VarnoTest::TempHome>();
        MenuBarPanel::setEventRecorder([](const QString &) {});
        m_model = std::make_unique<AppModel>(quietServices());
        m_panel = std::make_unique<MenuBarPanel>(m_model.get());
    }

    void cleanup()
    {
        MenuBarPanel::setEventRecorder({});
        m_panel.reset();
        m_model.reset();
        m_home.reset();
    }

    // "Detection incomplete" is one line and shows whole beside its button.
    void detectionBannerShowsWhole()
    {
        QList<AppRecord> apps = currentLibrary();
        apps.removeAt(1); // no App Store app: detection is incomplete
        m_model->setHasEverScanned(true);
        m_model->setApps(apps);
        show();
        QLabel *text = labelNamed(m_panel.get(), "panel-banner-text");
        QVERIFY(text && text->isVisibleTo(m_panel.get()));
        QCOMPARE(shownText(text), QStringLiteral("Detection incomplete"));
        QVERIFY2(text->contentsRect().width() >= text->fontMetrics().horizontalAdvance(text->text()),
                 qPrintable(QString::number(text->contentsRect().width())));
        const QStringList faults = textsThatDoNotFit(m_panel.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // Both details of the unmeasured body show whole, in at most two lines.
    void unmeasuredDetailShowsWhole_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("detail");
        QTest::newRow("unmeasured") << QStringLiteral(
            "unmeasured") << QStringLiteral("Includes apps without an independent version source (MAS/self-managed).");
        QTest::newRow("unknown") << QStringLiteral("unknown")
                                 << QStringLiteral("Some managed apps still lack a completed version check.");
    }

    void unmeasuredDetailShowsWhole()
    {
        QFETCH(QString, status);
        QFETCH(QString, detail);
        m_model->setHasEverScanned(true);
        m_model->setApps(currentLibrary() + QList<AppRecord>{checkedAs(QStringLiteral("g"), status)});
        QCOMPARE(m_panel->state(), PanelState::unmeasured);
        show();
        PanelLineLimitedLabel *label = nullptr;
        for (auto *candidate : m_panel->findChildren<PanelLineLimitedLabel *>()) {
            if (candidate->isVisibleTo(m_panel.get()) && candidate->text() == detail)
                label = candidate;
        }
        QVERIFY(label);
        const QStringList lines = label->linesFor(label->contentsRect().width());
        QVERIFY2(lines.size() <= 2, qPrintable(lines.join(QLatin1Char('|'))));
        QCOMPARE(lines.join(QLatin1Char(' ')), detail);
        const QStringList faults = textsThatDoNotFit(m_panel.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // A detail longer than two lines allow ends its second line in "…".
    void lineLimitElidesOnlyWhatDoesNotFit()
    {
        PanelLineLimitedLabel label(2);
        label.setText(QStringLiteral("one two three four five six seven eight nine ten eleven twelve"));
        const int width = label.fontMetrics().horizontalAdvance(QStringLiteral("one two three four fi"));
        const QStringList lines = label.linesFor(width);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.first(), QStringLiteral("one two three four"));
        QVERIFY2(lines.last().endsWith(QStringLiteral("\u2026")), qPrintable(lines.last()));
        QVERIFY(label.fontMetrics().horizontalAdvance(lines.last()) <= width);
        QCOMPARE(label.heightForWidth(width), 2 * label.fontMetrics().lineSpacing());
        label.setText(QStringLiteral("one two"));
        QCOMPARE(label.linesFor(width), QStringList{QStringLiteral("one two")});
    }

    // The running headline takes the room the counter leaves: a headline
    // wider than 220 px that fits shows whole; a longer one ends in "…".
    void runningHeadlineUsesItsRoom_data()
    {
        QTest::addColumn<int>("targetWidth");
        QTest::addColumn<bool>("whole");
        QTest::newRow("wider than 220 px, within the room") << 232 << true;
        QTest::newRow("far too long") << 600 << false;
    }

    void runningHeadlineUsesItsRoom()
    {
        QFETCH(int, targetWidth);
        QFETCH(bool, whole);
        QLabel *headline = labelNamed(m_panel.get(), "panel-running-headline");
        QVERIFY(headline);
        // An app name that makes the headline about targetWidth wide.
        const QFontMetrics metrics = headline->fontMetrics();
        QString name = QStringLiteral("Paint");
        while (metrics.horizontalAdvance(name + QStringLiteral(" \u2014 Installing\u2026")) < targetWidth)
            name += QStringLiteral(" x");
        const QString expected = name + QStringLiteral(" \u2014 Installing\u2026");
        m_model->setApps({makeRecord(QStringLiteral("{\"bundle_id\":\"t.p\",\"app_name\":\"%1\",\"current_version\":\"1\","
                                                    "\"latest_version\":\"2\",\"update_mechanism\":\"cask\"}")
                                         .arg(name)
                                         .toUtf8())});
        PanelSnapshot running = m_panel->snapshot();
        running.isUpdating = true;
        running.updateProgress.insert(QStringLiteral("t.p"), UpdateState::running(QStringLiteral("Installing\u2026")));
        m_panel->setSnapshotOverride(running);
        show();
        QCOMPARE(m_panel->state(), PanelState::running);
        QCOMPARE(headline->toolTip(), expected);
        const QString shown = shownText(headline);
        if (whole)
            QCOMPARE(shown, expected);
        else
            QVERIFY2(shown.endsWith(QStringLiteral("\u2026")) && shown.size() < expected.size(), qPrintable(shown));
        const QStringList faults = textsThatDoNotFit(m_panel.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // Every other state's texts fit as well.
    void everyStateFits()
    {
        show();
        QVERIFY(textsThatDoNotFit(m_panel.get()).isEmpty()); // needs scan
        m_model->setHasEverScanned(true);
        m_model->setApps(currentLibrary());
        QVERIFY(textsThatDoNotFit(m_panel.get()).isEmpty()); // clean
        m_model->setApps(currentLibrary()
                         + QList<AppRecord>{outdatedRecord(QStringLiteral("o"), QStringLiteral("urgent"))});
        QVERIFY(textsThatDoNotFit(m_panel.get()).isEmpty()); // pending
        m_model->setApps({});
        const QStringList faults = textsThatDoNotFit(m_panel.get()); // load failed
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }
};

VARNO_TEST_CLASS(TestPanelTextFit)
#include "tst_textfit.moc"
