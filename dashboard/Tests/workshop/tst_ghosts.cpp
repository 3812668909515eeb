#include "TestRegistry.h"
#include "TestSupport.h"

#include "ModelFixture.h"

#include "kit/ButtonStyles.h"
#include "kit/SpinnerView.h"
#include "model/Tone.h"
#include "platform/ToolRunner.h"
#include "platform/VarnoPaths.h"
#include "workshop/GhostRules.h"
#include "workshop/GhostViews.h"

#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

GhostAppRecord ghost(const QString &id, const QString &name, const QString &path, const QString &token)
{
    return GhostAppRecord{id, name, path, token};
}

// A model whose ghost list is read from ghosts.json after a scan by a tiny
// shell engine.
class GhostFixture {
public:
    explicit GhostFixture(const QByteArray &ghostsJson)
    {
        VARNOProcess::resetCachedValuesForTesting();
        ready = VarnoTest::writeFile(VarnoPaths::engineScript(), "case \"$3\" in list) echo '[]';; *) exit 0;; esac\n")
            && VarnoTest::writeFile(VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json"), ghostsJson);
        model = std::make_unique<AppModel>(fakes.services());
        if (ready) {
            VarnoTest::await(model->scan());
            ready = !model->ghostApps().isEmpty();
        }
    }

    VarnoTest::TempHome home;
    VarnoTest::ShellInterpreter shell;
    FakeModelServices fakes;
    std::unique_ptr<AppModel> model;
    bool ready = false;
};

const QByteArray mixedGhosts =
    R"([{"bundle_id":"org.gone.kept","app_name":"Kept","install_path":"/Applications/Kept.app","cask_token":"kept-cask"},
        {"bundle_id":"org.gone.free","app_name":"Freed","install_path":"/Applications/Freed.app","cask_token":"gone-cask"},
        {"bundle_id":"org.gone.plain","app_name":"ßtrange","install_path":"/Applications/Plain.app","cask_token":""},
        {"bundle_id":"org.gone.dash","app_name":"Dash","install_path":"/Applications/Dash.app","cask_token":"--force"}])";

// Exits 0 for "kept-cask", 1 otherwise; records every argument vector.
QByteArray fakeBrew(const QString &log)
{
    return "printf '%s|' \"$@\" >> '" + log.toUtf8() + "'; echo >> '" + log.toUtf8()
        + "'\n[ \"$3\" = kept-cask ] && exit 0\nexit 1\n";
}

} // namespace

// The ghost banner and review sheet: their texts, the Homebrew checks (one
// argument per token, never through a shell), and dismissing.
class TestGhosts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void texts()
    {
        QCOMPARE(GhostRules::countText(1), QStringLiteral("1 app"));
        QCOMPARE(GhostRules::countText(2), QStringLiteral("2 apps"));
        QCOMPARE(GhostRules::sheetSubtitle(1), QStringLiteral("1 app in your library no longer appear on disk."));
        QCOMPARE(GhostRules::sheetSubtitle(3), QStringLiteral("3 apps in your library no longer appear on disk."));
        QCOMPARE(GhostRules::rowDetail(ghost("a", "A", "/Applications/A.app", "a-cask")),
                 QStringLiteral("brew cask: a-cask"));
        QCOMPARE(GhostRules::rowDetail(ghost("a", "A", "/Applications/A.app", "")),
                 QStringLiteral("/Applications/A.app"));
        QCOMPARE(GhostRules::initial(QStringLiteral("ßtrange")), QStringLiteral("ß"));
        QCOMPARE(GhostRules::initial(QStringLiteral("\U0001F600 Smile")), QStringLiteral("\U0001F600"));
        QCOMPARE(GhostRules::initial(QString()), QString());
    }

    void statusMarks_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("status"); // empty: no entry
        QTest::addColumn<GhostRules::Mark>("mark");
        QTest::addColumn<QString>("colour");
        QTest::newRow("still installed: orange") << "t"
                                                 << "still installed in brew" << GhostRules::Mark::badge << "orange";
        QTest::newRow("not in brew: green") << "t"
                                            << "not in brew" << GhostRules::Mark::badge << "green";
        QTest::newRow("check failed: neutral, never green") << "t"
                                                            << "check failed" << GhostRules::Mark::badge << "grey";
        QTest::newRow("unchecked cask") << "t"
                                        << "" << GhostRules::Mark::unchecked << "";
        QTest::newRow("no cask") << ""
                                 << "" << GhostRules::Mark::removed << "";
    }

    void statusMarks()
    {
        QFETCH(QString, token);
        QFETCH(QString, status);
        QFETCH(GhostRules::Mark, mark);
        QFETCH(QString, colour);
        QHash<QString, QString> statuses;
        if (!status.isEmpty())
            statuses.insert(QStringLiteral("a"), status);
        QCOMPARE(GhostRules::mark(ghost("a", "A", "/A.app", token), statuses), mark);
        if (colour.isEmpty())
            return;
        const Tone expected = colour == QLatin1String("orange") ? Tone::caution
            : colour == QLatin1String("green")                  ? Tone::good
                                                                : Tone::neutral;
        QCOMPARE(GhostRules::badgeColor(status), expected);
    }

    void brewLocation_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("both: /opt/homebrew first")
            << QStringList{"/opt/homebrew/bin/brew", "/usr/local/bin/brew"} << "/opt/homebrew/bin/brew";
        QTest::newRow("only /usr/local") << QStringList{"/usr/local/bin/brew"} << "/usr/local/bin/brew";
        QTest::newRow("neither") << QStringList{} << "";
    }

    void brewLocation()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, chosen);
        const auto found = GhostRules::brewExecutable([&](const QString &path) { return present.contains(path); });
        QCOMPARE(found.value_or(QString()), chosen);
    }

    void tokensAreOneArgumentAndNeverOptions()
    {
        QCOMPARE(GhostRules::brewArguments(QStringLiteral("a b;rm -rf")), (QStringList{"list", "--cask", "a b;rm -rf"}));
        QVERIFY(GhostRules::isCheckableToken(QStringLiteral("firefox")));
        QVERIFY(!GhostRules::isCheckableToken(QStringLiteral("--force")));
        QVERIFY(!GhostRules::isCheckableToken(QString()));
    }

    void bannerTextsAndClose()
    {
        GhostFixture f(
            R"([{"bundle_id":"org.gone","app_name":"Gone","install_path":"/Applications/Gone.app","cask_token":""}])");
        QVERIFY(f.ready);
        int reviews = 0;
        GhostBannerView banner(f.model.get(), [&] { ++reviews; });
        QCOMPARE(banner.message(), QStringLiteral("Brusk removed 1 app that are no longer on disk."));
        QTest::mouseClick(banner.reviewButton(), Qt::LeftButton);
        QCOMPARE(reviews, 1);
        QCOMPARE(banner.closeButton()->accessibleName(), QStringLiteral("Close"));
        QTest::mouseClick(banner.closeButton(), Qt::LeftButton);
        QVERIFY(f.model->ghostApps().isEmpty());
        QVERIFY(!QFile::exists(VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json")));
    }

    void sheetWithoutCasksOffersNoCheck()
    {
        GhostFixture f(R"([{"bundle_id":"org.a","app_name":"A","install_path":"/Applications/A.app","cask_token":""},
                           {"bundle_id":"org.b","app_name":"B","install_path":"/Applications/B.app","cask_token":""}])");
        QVERIFY(f.ready);
        GhostAppsView sheet(f.model.get());
        QCOMPARE(sheet.subtitle(), QStringLiteral("2 apps in your library no longer appear on disk."));
        QVERIFY(sheet.checkButton()->isHidden());
        QCOMPARE(sheet.rowMarks(), QStringList(2, GhostRules::removedHelp()));
        QCOMPARE(sheet.rowDetails(), (QStringList{"/Applications/A.app", "/Applications/B.app"}));
    }

    void checkHomebrewStatus()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        VarnoTest::FakeTools tools;
        const QString log = tools.filePath(QStringLiteral("calls"));
        ToolPaths::Scoped brew(QStringLiteral("/usr/local/bin/brew"), tools.write(QStringLiteral("brew"), fakeBrew(log)));
        GhostAppsView sheet(f.model.get());
        QVERIFY(!sheet.checkButton()->isHidden());
        QCOMPARE(sheet.checkButton()->text(), QStringLiteral("Check Homebrew status"));
        QCOMPARE(sheet.rowMarks().at(0), GhostRules::uncheckedHelp());

        auto checks = sheet.checkHomebrewStatus();
        QVERIFY(sheet.isCheckingBrew());
        QVERIFY(!sheet.checkButton()->isEnabled());
        QCOMPARE(sheet.checkButton()->text(), QStringLiteral("Checking brew…"));
        VarnoTest::await(std::move(checks));
        QVERIFY(!sheet.isCheckingBrew());
        QVERIFY(sheet.checkButton()->isEnabled());
        QCOMPARE(sheet.rowMarks(),
                 (QStringList{"still installed in brew", "not in brew", GhostRules::removedHelp(), "check failed"}));
        // One run per checkable token, the token one argument; "--force" never
        // reached brew.
        QCOMPARE(QString::fromUtf8(VarnoTest::readFile(log)),
                 QStringLiteral("list|--cask|kept-cask|\nlist|--cask|gone-cask|\n"));
    }

    // While the check runs its spinner turns inside the button, before the
    // label; afterwards each badge is as tall as its text and 3 above and
    // below, centred on its row rather than stretched to it.
    void spinnerAndBadgesSitInTheirPlaces()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        VarnoTest::FakeTools tools;
        const QString log = tools.filePath(QStringLiteral("calls"));
        ToolPaths::Scoped brew(QStringLiteral("/usr/local/bin/brew"), tools.write(QStringLiteral("brew"), fakeBrew(log)));
        GhostAppsView sheet(f.model.get());
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        StyledButton *check = sheet.checkButton();
        QVERIFY(!check->progressIndicator() || !check->progressIndicator()->isVisible());
        const int idleWidth = check->sizeHint().width();

        auto checks = sheet.checkHomebrewStatus();
        QVERIFY(sheet.isCheckingBrew());
        sheet.layout()->activate();
        check->parentWidget()->layout()->activate();
        SpinnerView *spinner = check->progressIndicator();
        QVERIFY(spinner);
        QVERIFY(spinner->isVisible());
        QCOMPARE(spinner->parentWidget(), static_cast<QWidget *>(check));
        QVERIFY2(check->rect().contains(spinner->geometry()), "the spinner turns inside its button");
        // In the label's colour, dark on the gold.
        QVERIFY(spinner->tint() == PrimaryButtonStyle().text);
        // Before the label, inside the padding, the label still whole.
        QVERIFY(spinner->x() >= GhostButtonStyle().horizontalPadding);
        QCOMPARE(check->width(), check->sizeHint().width());
        QVERIFY(check->sizeHint().width() >= QFontMetrics(check->font()).horizontalAdvance(check->text())
                    + spinner->width() + StyledButton::kSymbolSpacing + 2 * PrimaryButtonStyle().horizontalPadding);
        QVERIFY(check->sizeHint().width() != idleWidth);
        VarnoTest::await(std::move(checks));
        QVERIFY(!spinner->isVisible());

        QList<QLabel *> badges;
        for (QLabel *label : sheet.findChildren<QLabel *>()) {
            if (sheet.brewStatus().values().contains(label->text()))
                badges.append(label);
        }
        QCOMPARE(badges.size(), 3);
        // The rows are made afresh with the answers: wait until they show.
        QVERIFY(VarnoTest::waitUntil([&] {
            return std::all_of(badges.cbegin(), badges.cend(), [](QLabel *badge) { return badge->isVisible(); });
        }));
        for (QLabel *badge : std::as_const(badges)) {
            QWidget *row = badge->parentWidget();
            row->parentWidget()->layout()->activate();
            row->layout()->activate();
            const int textHeight = QFontMetrics(badge->font()).size(Qt::TextSingleLine, badge->text()).height();
            QCOMPARE(badge->height(), textHeight + 6);
            QVERIFY(row->height() > badge->height());
            QVERIFY(qAbs(badge->geometry().center().y() - row->rect().center().y()) <= 1);
        }
    }

    void aBrewThatCannotStartIsNotASuccess()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        VarnoTest::FakeTools tools;
        const QString notExecutable = tools.filePath(QStringLiteral("brew"));
        QVERIFY(VarnoTest::writeFile(notExecutable, "not a program"));
        ToolPaths::Scoped brew(QStringLiteral("/opt/homebrew/bin/brew"), notExecutable);
        GhostAppsView sheet(f.model.get());
        VarnoTest::await(sheet.checkHomebrewStatus());
        QCOMPARE(sheet.brewStatus().value(QStringLiteral("org.gone.kept")), QStringLiteral("check failed"));
        QCOMPARE(GhostRules::badgeColor(QStringLiteral("check failed")), Tone::neutral);
    }

    void noHomebrewLeavesTheRowsAlone()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        ToolPaths::Scoped opt(QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/nonexistent/brew"));
        ToolPaths::Scoped local(QStringLiteral("/usr/local/bin/brew"), QStringLiteral("/nonexistent/brew"));
        GhostAppsView sheet(f.model.get());
        const QStringList before = sheet.rowMarks();
        VarnoTest::await(sheet.checkHomebrewStatus());
        QVERIFY(!sheet.isCheckingBrew());
        QVERIFY(sheet.brewStatus().isEmpty());
        QCOMPARE(sheet.rowMarks(), before);
    }

    void closingMidCheckDropsTheAnswer()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        VarnoTest::FakeTools tools;
        ToolPaths::Scoped brew(QStringLiteral("/usr/local/bin/brew"),
                               tools.write(QStringLiteral("brew"), "sleep 0.3; exit 1\n"));
        auto *sheet = new GhostAppsView(f.model.get());
        auto checks = sheet->checkHomebrewStatus();
        delete sheet;
        VarnoTest::await(std::move(checks));
        QCOMPARE(f.model->ghostApps().size(), 4);
    }

    void returnIsDoneAndClearsTheGhosts()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        GhostAppsView sheet(f.model.get());
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QVERIFY(sheet.doneButton()->isDefault());
        QTest::keyClick(&sheet, Qt::Key_Return);
        QVERIFY(f.model->ghostApps().isEmpty());
        QVERIFY(!sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
    }

    void allClearClearsTheGhosts()
    {
        GhostFixture f(mixedGhosts);
        QVERIFY(f.ready);
        GhostAppsView sheet(f.model.get());
        sheet.show();
        QTest::mouseClick(sheet.allClearButton(), Qt::LeftButton);
        QVERIFY(f.model->ghostApps().isEmpty());
        QVERIFY(!sheet.isVisible());
    }
};

VARNO_TEST_CLASS(TestGhosts)
#include "tst_ghosts.moc"
