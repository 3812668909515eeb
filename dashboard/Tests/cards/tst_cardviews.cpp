#include "MarkupCheck.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"
#include "ModelFixture.h"

#include "cards/AppCardDetailView.h"
#include "cards/AppCardSimpleView.h"
#include "cards/CardParts.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "platform/Appearance.h"
#include "platform/ApplicationIcons.h"
#include "widgets/AppIconView.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/TrustBadges.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmapCache>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace std::chrono_literals;

namespace {

QByteArray journal()
{
    return VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
}

// What a card asked of the drawer, and whether the model had the bundle id
// selected by then.
struct DrawerSpy {
    AppModel *model = nullptr;
    QStringList opened;
    QStringList selectedFirst;

    ShowProvenance binding()
    {
        return [this](const AppRecord &app) {
            opened.append(app.bundle_id);
            selectedFirst.append(model->selectedBundleID().value_or(QString()));
        };
    }
};

// A button's text as it shows: "&&" is one "&"; a single "&" marks the
// mnemonic and does not show.
QString shownButtonText(const QString &text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown += text.at(i);
    }
    return shown;
}

QAction *findAction(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QPushButton *dialogButton(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return qobject_cast<QPushButton *>(button);
    }
    return nullptr;
}

// The dialog's one button of a role (its text aside).
QPushButton *dialogButton(QMessageBox *box, QMessageBox::ButtonRole role)
{
    QPushButton *found = nullptr;
    for (QAbstractButton *button : box->buttons()) {
        if (box->buttonRole(button) == role) {
            if (found)
                return nullptr;
            found = qobject_cast<QPushButton *>(button);
        }
    }
    return found;
}

// Whether the engine was asked for a command that begins with these words.
bool engineRan(const QStringList &words)
{
    const QList<QStringList> commands = VarnoTest::engineCommands();
    return std::any_of(commands.cbegin(), commands.cend(),
                       [&](const QStringList &command) { return command.mid(0, words.size()) == words; });
}

} // namespace

// The cards and the incident button against the real model and the engine
// stand-in's demo library.
class TestCardViews : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;
    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;
    std::unique_ptr<QWidget> m_window;
    DrawerSpy m_drawer;

    AppRecord app(const char *bundleId) const
    {
        const auto record = f->app(QString::fromLatin1(bundleId));
        if (!record)
            qFatal("the demo library has no %s", bundleId);
        return *record;
    }

    template<typename Card>
    Card *show(const AppRecord &record)
    {
        auto *card = new Card(f->model.get(), record, m_drawer.binding(), m_window.get());
        card->resize(card->sizeHint().expandedTo(QSize(560, 0)));
        card->show();
        return card;
    }

    void settle()
    {
        VarnoTest::waitUntil([this] { return !f->model->isBusy() && f->model->updateProgress().isEmpty(); }, 10s);
    }

private Q_SLOTS:
    void init()
    {
        MainBundle::setPathOverride(VarnoTest::stagedBundlePath());
        m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true);
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        VarnoTest::await(f->model->scan());
        QVERIFY(!f->model->apps().isEmpty());
        m_drawer = DrawerSpy{f->model.get(), {}, {}};
        m_window = std::make_unique<QWidget>();
        m_window->resize(800, 600);
        m_window->show();
        IncidentActionButton::setCopiedInterval(2000ms);
    }

    void cleanup()
    {
        m_window.reset();
        f.reset();
        m_noMotion.reset();
        CardRules::setCaskroomRoots({});
        ApplicationIcons::setShared(nullptr);
    }

    // The Update button starts the engine's update of that one app; the area
    // follows the model: the spinner while it runs, then the finished state.
    void updateButtonUpdatesOneApp()
    {
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        auto *card = show<AppCardSimpleView>(saltmarsh);
        QCOMPARE(card->objectName(), QStringLiteral("app-card-org.sim.saltmarsh"));
        StyledButton *update = card->actionArea()->button();
        QVERIFY(update);
        QCOMPARE(update->text(), QStringLiteral("Update"));
        QVERIFY(update->isEnabled());
        QTest::mouseClick(update, Qt::LeftButton);
        QCOMPARE(card->actionArea()->area().kind, CardRules::ActionArea::Kind::progress);
        QCOMPARE(card->presentation().state, AppTrustState::updating);
        QVERIFY(VarnoTest::waitUntil([&] { return !f->model->singleUpdateToken(); }));
        QVERIFY(journal().contains("\"update\", \"--only\", \"org.sim.saltmarsh\"]"));
        QCOMPARE(f->model->updateState(saltmarsh.bundle_id), UpdateState::done());
        // Done with the record's seal: the seal, not the Update button.
        QCOMPARE(card->actionArea()->area().kind, CardRules::ActionArea::Kind::greenSeal);
        QVERIFY(qobject_cast<GreenSealView *>(card->actionArea()->content()));
        // The drawer was not asked for by pressing the button.
        QVERIFY(m_drawer.opened.isEmpty());
    }

    // While a scan runs every card's Update button is disabled and says why.
    void scanDisablesUpdate()
    {
        auto *card = show<AppCardSimpleView>(app("org.sim.tallybook"));
        auto scan = f->model->scan();
        QVERIFY(f->model->isScanning());
        QVERIFY(card->actionArea()->button());
        QVERIFY(!card->actionArea()->button()->isEnabled());
        QCOMPARE(card->actionArea()->button()->toolTip(), QStringLiteral("Updates resume when the scan finishes."));
        VarnoTest::await(std::move(scan));
        QVERIFY(card->actionArea()->button()->isEnabled());
        QCOMPARE(card->actionArea()->button()->toolTip(), QStringLiteral("Update this app through VARNO"));
    }

    // Click, Return and the accessibility press open the drawer, the model's
    // selection first; a right click does not.
    void cardsOpenTheDrawer()
    {
        auto *simple = show<AppCardSimpleView>(app("org.sim.inkwell"));
        auto *detail = show<AppCardDetailView>(app("org.sim.tallybook"));
        QCOMPARE(detail->objectName(), QStringLiteral("app-row-org.sim.tallybook"));

        QTest::mouseClick(simple, Qt::RightButton, {}, QPoint(5, 5));
        QTest::mouseClick(detail, Qt::RightButton, {}, QPoint(5, 5));
        QVERIFY(m_drawer.opened.isEmpty());

        QTest::mouseClick(simple, Qt::LeftButton, {}, QPoint(5, 5));
        simple->setFocus();
        QTest::keyClick(simple, Qt::Key_Return);
        QTest::mouseClick(detail, Qt::LeftButton, {}, QPoint(5, 5));
        detail->setFocus();
        QTest::keyClick(detail, Qt::Key_Enter);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(simple);
        QVERIFY(accessible && accessible->actionInterface());
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());

        const QStringList expected = {"org.sim.inkwell", "org.sim.inkwell", "org.sim.tallybook", "org.sim.tallybook",
                                      "org.sim.inkwell"};
        QCOMPARE(m_drawer.opened, expected);
        QCOMPARE(m_drawer.selectedFirst, expected);
    }

    void simpleCardAccessibility()
    {
        const AppRecord tallybook = app("org.sim.tallybook");
        auto *card = show<AppCardSimpleView>(tallybook);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(card);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::Button);
        QCOMPARE(accessible->text(QAccessible::Name),
                 tallybook.app_name + QStringLiteral(", ") + card->statusText() + QStringLiteral(", installed ")
                     + *tallybook.current_version + QStringLiteral(", latest ") + *tallybook.latest_version);
        QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("Views provenance and update history"));
        QCOMPARE(accessible->text(QAccessible::Value), QStringLiteral("outdated"));
        QVERIFY(accessible->childCount() > 0); // it contains its children
    }

    // Choosing a mode runs the engine's mode command; the checkmark sits on
    // the effective mode; the in-app updater item only where the rule holds.
    void updateModeMenu()
    {
        auto *card = show<AppCardSimpleView>(app("org.sim.inkwell"));
        std::unique_ptr<QMenu> menu(card->buildContextMenu());
        QMenu *modes = menu->actions().first()->menu();
        QVERIFY(modes);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Update Mode"));
        QStringList labels;
        QString checked;
        for (QAction *item : modes->actions()) {
            labels.append(item->text());
            if (item->isChecked())
                checked = item->text();
        }
        QCOMPARE(labels, (QStringList{"Automatic", "Ask first", "Notify only", "Ignore", "Use app’s updater"}));
        QCOMPARE(checked, QStringLiteral("Automatic"));
        QVERIFY(!findAction(menu.get(), QStringLiteral("Check for Update in App")));
        findAction(modes, QStringLiteral("Ask first"))->trigger();
        QVERIFY(VarnoTest::waitUntil([] { return journal().contains("\"mode\", \"org.sim.inkwell\", \"ask\"]"); }));

        auto *ferrous = show<AppCardSimpleView>(app("org.sim.ferrous"));
        std::unique_ptr<QMenu> ferrousMenu(ferrous->buildContextMenu());
        QAction *check = findAction(ferrousMenu.get(), QStringLiteral("Check for Update in App"));
        QVERIFY(check);
        QCOMPARE(ferrous->actionArea()->area().kind, CardRules::ActionArea::Kind::checkInAppButton);
        check->trigger();
        QVERIFY(VarnoTest::waitUntil([] { return journal().contains("\"trigger-update\", \"org.sim.ferrous\"]"); }));
        settle();
    }

    // The detailed card's menu: gates evaluated when the menu is built, the
    // confirmation's texts, Escape confirming nothing and the destructive
    // button running the engine's removal.
    void detailMenuAndConfirmation()
    {
        QTemporaryDir caskroom;
        QVERIFY(QDir(caskroom.path()).mkdir(QStringLiteral("inkwell")));
        CardRules::setCaskroomRoots({caskroom.path()});
        const AppRecord inkwell = app("org.sim.inkwell");
        QVERIFY(inkwell.install_path);
        auto *card = show<AppCardDetailView>(inkwell);

        std::unique_ptr<QMenu> menu(card->buildContextMenu());
        QStringList items;
        for (QAction *action : menu->actions())
            items.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(items, (QStringList{"Update Mode", "-", "Re-install", "Uninstall…"}));

        // Escape closes the dialog and starts nothing.
        findAction(menu.get(), QStringLiteral("Re-install"))->trigger();
        QCOMPARE(card->actionToConfirm(), CardRules::AppLifecycleAction::reinstall);
        QMessageBox *box = card->confirmationDialog();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Re-install Inkwell?"));
        QCOMPARE(box->informativeText(),
                 QStringLiteral("This will run `brew reinstall --cask inkwell` and may overwrite app settings."));
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->buttonRole(dialogButton(box, QStringLiteral("Re-install"))), QMessageBox::AcceptRole);
        QCOMPARE(box->defaultButton(), dialogButton(box, QStringLiteral("Cancel")));
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(VarnoTest::waitUntil([&] { return !card->confirmationDialog(); }));
        QVERIFY(!card->actionToConfirm());

        // The destructive button clears the state and removes the app.
        findAction(menu.get(), QStringLiteral("Uninstall…"))->trigger();
        box = card->confirmationDialog();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Uninstall Inkwell?"));
        QCOMPARE(box->informativeText(),
                 QStringLiteral("This will run `brew uninstall --cask` for this app. Homebrew will "
                                "remove the app and its Caskroom metadata."));
        QPushButton *uninstall = dialogButton(box, QStringLiteral("Uninstall"));
        QCOMPARE(box->buttonRole(uninstall), QMessageBox::DestructiveRole);
        QTest::mouseClick(uninstall, Qt::LeftButton);
        QVERIFY(!card->actionToConfirm());
        QVERIFY(VarnoTest::waitUntil([&] { return !f->app(inkwell.bundle_id); }));
        QVERIFY(!journal().contains("\"reinstall\""));
        QVERIFY(journal().contains("\"remove\", \"--bundle-id\", \"org.sim.inkwell\""));
        settle();
    }

    // The divider after the Update Mode menu stays when nothing follows it
    // (an app that can be neither re-installed nor removed, and is classified).
    void detailMenuDividerStaysAlone()
    {
        AppRecord record = app("org.sim.saltmarsh");
        record.install_path.reset();
        record.update_mechanism = QStringLiteral("sparkle");
        auto *card = show<AppCardDetailView>(record);
        std::unique_ptr<QMenu> menu(card->buildContextMenu());
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions.last()->isSeparator());
        menu->popup(card->mapToGlobal(QPoint(0, 0)));
        QVERIFY(QTest::qWaitForWindowExposed(menu.get()));
        const QRect divider = menu->actionGeometry(actions.last());
        QVERIFY2(divider.height() > 0, "the divider is drawn");
        QVERIFY(divider.top() >= menu->actionGeometry(actions.first()).bottom());
        QCOMPARE(menu->actionAt(divider.center()), actions.last());
        menu->hide();
    }

    // A card whose app has no icon asks for it again each time it refreshes,
    // the same record bound all along; once the icon shows, it asks no more.
    void cardsAskAgainForAMissingIcon_data()
    {
        QTest::addColumn<bool>("details");
        QTest::newRow("simple card") << false;
        QTest::newRow("detailed card") << true;
    }

    void cardsAskAgainForAMissingIcon()
    {
        QFETCH(bool, details);
        auto icons = std::make_shared<MapApplicationIcons>();
        ApplicationIcons::setShared(icons);
        AppIconCache::instance().clear();
        const AppRecord record = app("org.sim.saltmarsh");
        const QString &id = record.bundle_id;
        QWidget *card = nullptr;
        AppIconView *icon = nullptr;
        if (details) {
            auto *detailCard = show<AppCardDetailView>(record);
            card = detailCard;
            icon = detailCard->iconView();
        } else {
            auto *simpleCard = show<AppCardSimpleView>(record);
            card = simpleCard;
            icon = simpleCard->iconView();
        }
        const auto answered = [] { return !AppIconCache::instance().isLookingUp(); };
        QVERIFY(VarnoTest::waitUntil(answered));
        const int first = icons->lookups(id);
        QCOMPARE(first, 1);

        // A scan refreshes every card: still no icon, so it is asked again.
        VarnoTest::await(f->model->scan());
        QVERIFY(VarnoTest::waitUntil(answered));
        QVERIFY(icons->lookups(id) > first);
        QVERIFY(!icon->showsIcon());
        QCOMPARE(icon->app().bundle_id, id);

        // Installed since: the next refresh finds it and keeps it.
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        icons->set(id, image);
        VarnoTest::await(f->model->scan());
        QVERIFY(VarnoTest::waitUntil([&] { return icon->showsIcon(); }));
        QVERIFY(VarnoTest::waitUntil(answered));
        const int found = icons->lookups(id);
        VarnoTest::await(f->model->scan());
        QVERIFY(VarnoTest::waitUntil(answered));
        QCOMPARE(icons->lookups(id), found);
        QVERIFY(card->isVisible());
    }

    // Confirming the Re-install dialog re-installs that app through the
    // engine, and removes nothing.
    void confirmingReinstallReinstalls()
    {
        QTemporaryDir caskroom;
        QVERIFY(QDir(caskroom.path()).mkdir(QStringLiteral("inkwell")));
        CardRules::setCaskroomRoots({caskroom.path()});
        auto *card = show<AppCardDetailView>(app("org.sim.inkwell"));
        std::unique_ptr<QMenu> menu(card->buildContextMenu());
        findAction(menu.get(), QStringLiteral("Re-install"))->trigger();
        QMessageBox *box = card->confirmationDialog();
        QVERIFY(box);
        QPushButton *confirm = dialogButton(box, QMessageBox::AcceptRole);
        QVERIFY(confirm);
        QTest::mouseClick(confirm, Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([] { return engineRan({"reinstall", "--bundle-id", "org.sim.inkwell"}); }));
        settle();
        QVERIFY(!engineRan({"remove"}));
        QVERIFY(f->app(QStringLiteral("org.sim.inkwell")));
    }

    // Nothing that may replace the app offers re-install or uninstall: a
    // scan, or the app's own entry running.
    void lifecycleItemsWaitForOtherWork()
    {
        QTemporaryDir caskroom;
        QVERIFY(QDir(caskroom.path()).mkdir(QStringLiteral("saltmarsh")));
        CardRules::setCaskroomRoots({caskroom.path()});
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        auto *card = show<AppCardDetailView>(saltmarsh);
        auto count = [&] {
            std::unique_ptr<QMenu> menu(card->buildContextMenu());
            return int(bool(findAction(menu.get(), QStringLiteral("Re-install"))))
                + int(bool(findAction(menu.get(), QStringLiteral("Uninstall…"))));
        };
        QCOMPARE(count(), 2);
        auto scan = f->model->scan();
        QCOMPARE(count(), 0);
        VarnoTest::await(std::move(scan));
        auto help = f->model->getHelp(saltmarsh); // the app's own entry runs
        QVERIFY(!f->model->isBusy());
        QCOMPARE(count(), 0);
        VarnoTest::await(std::move(help));
        QCOMPARE(count(), 2);

        // An unclassified app offers the classification sheet.
        auto *mossgrid = show<AppCardDetailView>(app("org.sim.mossgrid"));
        std::unique_ptr<QMenu> menu(mossgrid->buildContextMenu());
        QAction *classify = findAction(menu.get(), QStringLiteral("Help Brusk classify…"));
        QVERIFY(classify);
        classify->trigger();
        QVERIFY(mossgrid->contributeSheet());
        QCOMPARE(mossgrid->contributeSheet()->windowModality(), Qt::WindowModal);
    }

    // The incident line follows the model: Fix It runs the engine's fix, and
    // the line goes once the incident is gone.
    void incidentLineFixIt()
    {
        const AppRecord netherby = app("org.sim.netherby");
        QVERIFY(f->model->incidents().contains(netherby.bundle_id));
        auto *card = show<AppCardDetailView>(netherby);
        QVERIFY(card->incidentRow()->isVisibleTo(card));
        QCOMPARE(card->incidentSymbol()->symbol(), QStringLiteral("exclamationmark.triangle"));
        QCOMPARE(card->incidentRow()->accessibleName(),
                 QStringLiteral("Update failed: ")
                     + RemediationRegistry::shared().cause(QStringLiteral("NETWORK_TIMEOUT")));
        IncidentActionButton *remedy = card->incidentButton();
        QCOMPARE(remedy->button()->text(), QStringLiteral("Fix It"));
        QCOMPARE(remedy->button()->accessibleName(), QStringLiteral("Fix It — ") + netherby.app_name);
        QTest::mouseClick(remedy->button(), Qt::LeftButton);
        QVERIFY(f->model->isFixing());
        QVERIFY(!remedy->button()->isEnabled());
        QVERIFY(VarnoTest::waitUntil([&] { return !f->model->isFixing(); }));
        QVERIFY(journal().contains("\"fix\", \"org.sim.netherby\""));
        QVERIFY(!f->model->incidents().contains(netherby.bundle_id));
        QVERIFY(!card->incidentRow()->isVisibleTo(card));

        // A skipped incident is grey with the skip symbol.
        auto *handmade = show<AppCardDetailView>(app("org.sim.handmade"));
        QCOMPARE(handmade->incidentSymbol()->symbol(), QStringLiteral("arrow.uturn.forward"));
        QCOMPARE(handmade->incidentCause()->color(), VarnoColor::textSecondary());
        QCOMPARE(handmade->incidentButton()->button()->text(), QStringLiteral("Adopt"));
        QTest::mouseClick(handmade->incidentButton()->button(), Qt::LeftButton);
        QVERIFY(handmade->incidentButton()->adoptSheet());
    }

    // Run in Terminal copies the fix command and says so; an unsafe bundle
    // id copies nothing and reports why.
    void runInTerminalCopies()
    {
        IncidentActionButton::setCopiedInterval(50ms);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        auto *quarry = new IncidentActionButton(f->model.get(), app("org.sim.quarry"), QStringLiteral("BREW_LOCKED"),
                                                m_window.get());
        quarry->show();
        QCOMPARE(quarry->button()->text(), QStringLiteral("Run in Terminal"));
        QTest::mouseClick(quarry->button(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("varno fix org.sim.quarry"));
        QCOMPARE(quarry->button()->text(), QStringLiteral("Copied"));
        QVERIFY(VarnoTest::waitUntil([&] { return quarry->button()->text() == QStringLiteral("Run in Terminal"); }));

        AppRecord unsafe = app("org.sim.quarry");
        unsafe.bundle_id = QStringLiteral("org.sim.quarry\n");
        auto *bad = new IncidentActionButton(f->model.get(), unsafe, QStringLiteral("BREW_LOCKED"), m_window.get());
        bad->show();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::mouseClick(bad->button(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(bad->button()->text(), QStringLiteral("Run in Terminal"));
        QCOMPARE(f->model->error().value_or(QString()), IncidentActionRules::unsafeCopyRefusalText);

        // A code without remedy shows nothing at all.
        auto *locked = new IncidentActionButton(f->model.get(), app("org.sim.signet"),
                                                QStringLiteral("SIG_TEAM_MISMATCH"), m_window.get());
        QVERIFY(locked->isHidden());
        QCOMPARE(locked->action(), IncidentAction::none);
    }

    // Quit & Update asks first: "Not now" does nothing, the second choice
    // arms the update for when the user quits the app.
    void quitAndUpdateAsksFirst()
    {
        auto *button = new IncidentActionButton(f->model.get(), app("org.sim.pocketloom"),
                                                QStringLiteral("APP_RUNNING"), m_window.get());
        button->show();
        QCOMPARE(button->button()->text(), QStringLiteral("Quit & Update"));

        QTest::mouseClick(button->button(), Qt::LeftButton);
        QMessageBox *box = button->quitConsentDialog();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Quit Pocketloom to update it?"));
        QCOMPARE(box->informativeText(), IncidentActionRules::quitConsentMessage(QStringLiteral("Pocketloom")));
        // The first choice reads "Quit & Update" as written: its "&" is no
        // mnemonic.
        QAbstractButton *quit = box->buttons().value(0);
        QVERIFY(quit && box->buttonRole(quit) == QMessageBox::AcceptRole);
        QCOMPARE(shownButtonText(quit->text()), QStringLiteral("Quit & Update"));
        QVERIFY(QKeySequence::mnemonic(quit->text()).isEmpty());
        QCOMPARE(quit->accessibleName(), QStringLiteral("Quit & Update"));
        QTest::mouseClick(dialogButton(box, QStringLiteral("Not now")), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !button->quitConsentDialog(); }));
        // Neither the quit-and-update nor the defer command ran (the load's
        // own background seal checks may have).
        QVERIFY(!journal().contains("\"org.sim.pocketloom\", \"--on-quit\""));
        QVERIFY(!journal().contains("\"--approved\", \"org.sim.pocketloom\""));
        QVERIFY(!journal().contains("\"org.sim.pocketloom\", \"--approved\""));

        QTest::mouseClick(button->button(), Qt::LeftButton);
        box = button->quitConsentDialog();
        QVERIFY(box);
        QTest::mouseClick(dialogButton(box, QStringLiteral("Update when I quit it instead")), Qt::LeftButton);
        QVERIFY(
            VarnoTest::waitUntil([] { return journal().contains("\"mode\", \"org.sim.pocketloom\", \"--on-quit\""); }));
        QVERIFY(!journal().contains("\"--approved\", \"org.sim.pocketloom\""));
        QVERIFY(!journal().contains("\"org.sim.pocketloom\", \"--approved\""));
        settle();
    }

    // A name or cask token that holds markup shows as written in the
    // dialogs a card opens, and in the incident button's tooltip.
    void dialogsShowRecordTextAsWritten_data()
    {
        QTest::addColumn<int>("dialog"); // 0 Quit & Update, 1 Re-install, 2 Uninstall
        QTest::newRow("quit and update consent") << 0;
        QTest::newRow("re-install confirmation") << 1;
        QTest::newRow("uninstall confirmation") << 2;
    }

    void dialogsShowRecordTextAsWritten()
    {
        QFETCH(int, dialog);
        AppRecord planted = app("org.sim.inkwell");
        planted.app_name = VarnoTest::plantedMarkup(QStringLiteral("Pocketloom"));
        planted.cask_token = VarnoTest::plantedMarkup(QStringLiteral("pocketloom"));
        QMessageBox *box = nullptr;
        QString message;
        if (dialog == 0) {
            auto *button = new IncidentActionButton(f->model.get(), planted, QStringLiteral("APP_RUNNING"),
                                                    m_window.get());
            button->show();
            QCOMPARE(VarnoTest::shownText(button->button()->toolTip(), Qt::AutoText), button->spec().toolTip);
            QVERIFY(button->spec().toolTip.contains(planted.app_name));
            QTest::mouseClick(button->button(), Qt::LeftButton);
            box = button->quitConsentDialog();
            message = IncidentActionRules::quitConsentMessage(planted.app_name);
        } else {
            const auto action = dialog == 1 ? CardRules::AppLifecycleAction::reinstall
                                            : CardRules::AppLifecycleAction::uninstall;
            auto *card = show<AppCardDetailView>(planted);
            card->confirm(action);
            box = card->confirmationDialog();
            message = CardRules::confirmationFor(action, planted).message;
        }
        QVERIFY(box);
        QVERIFY(box->text().contains(planted.app_name));
        for (const char *name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
            auto *label = box->findChild<QLabel *>(QString::fromLatin1(name));
            QVERIFY2(label, name);
            QVERIFY2(label->textFormat() == Qt::PlainText, name);
        }
        QCOMPARE(box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))->text(), message);
        QCOMPARE(VarnoTest::plantedMarkupRendered(box), QStringList());
        box->reject();
    }

    // The consent dialog's Quit & Update quits the app (not running here, so
    // nothing is signalled) and runs its approved update at once; it does
    // not defer the update to the app's quitting.
    void quitAndUpdateRunsTheApprovedUpdate()
    {
        auto *button = new IncidentActionButton(f->model.get(), app("org.sim.pocketloom"),
                                                QStringLiteral("APP_RUNNING"), m_window.get());
        button->show();
        QTest::mouseClick(button->button(), Qt::LeftButton);
        QMessageBox *box = button->quitConsentDialog();
        QVERIFY(box);
        QPushButton *quit = dialogButton(box, QMessageBox::AcceptRole);
        QVERIFY(quit);
        QTest::mouseClick(quit, Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([] {
            return engineRan({"update", "--only", "org.sim.pocketloom", "--approved"});
        }));
        QVERIFY(VarnoTest::waitUntil([this] { return !f->model->isFixing(); }));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.pocketloom")), UpdateState::done());
        QVERIFY(!engineRan({"mode", "org.sim.pocketloom", "--on-quit"}));
        settle();
    }

    // The button follows the model's flags: everything but Run in Terminal is
    // disabled while the app's own entry runs; Get help stays enabled in a scan.
    void incidentButtonFollowsBusyFlags()
    {
        const AppRecord saltmarsh = app("org.sim.saltmarsh");
        auto *help = new IncidentActionButton(f->model.get(), saltmarsh, QStringLiteral("UNKNOWN"), m_window.get());
        auto *approve = new IncidentActionButton(f->model.get(), saltmarsh, QStringLiteral("UPDATE_MODE_ASK_HEADLESS"),
                                                 m_window.get());
        auto *terminal = new IncidentActionButton(f->model.get(), saltmarsh, QStringLiteral("BREW_LOCKED"),
                                                  m_window.get());
        auto scan = f->model->scan();
        QVERIFY(help->button()->isEnabled());
        QVERIFY(!approve->button()->isEnabled());
        VarnoTest::await(std::move(scan));
        f->model->setPreviewUpdateState(saltmarsh.bundle_id, UpdateState::running(QStringLiteral("Updating…")));
        QVERIFY(!help->button()->isEnabled());
        QVERIFY(!approve->button()->isEnabled());
        QVERIFY(terminal->button()->isEnabled());
        f->model->setPreviewUpdateState(saltmarsh.bundle_id, UpdateState::failed(QStringLiteral("x")));
        QVERIFY(help->button()->isEnabled());
        QVERIFY(approve->button()->isEnabled());
    }

    // The detailed row's version group, badges and seal slot.
    void detailRowContent()
    {
        const AppRecord tallybook = app("org.sim.tallybook");
        auto *card = show<AppCardDetailView>(tallybook);
        QCOMPARE(card->versionGroup()->text(),
                 *tallybook.current_version + QStringLiteral(" → ") + *tallybook.latest_version);
        QCOMPARE(card->versionGroup()->latestColor(), VarnoColor::tone(PosturePresenter::tone(card->stateTone())));
        QCOMPARE(card->mechanismBadge()->text(), QStringLiteral("BREW"));
        QCOMPARE(card->sealSlot()->size(), QSize(20, 20));
        QCOMPARE(card->bundleIdLabel()->text(), QStringLiteral("org.sim.tallybook"));
        if (card->presentation().collaborationCount >= 1) {
            QVERIFY(card->collaborationBadge()->isVisibleTo(card));
            QCOMPARE(card->collaborationBadge()->text(),
                     QString::number(card->presentation().collaborationCount) + QLatin1Char('x'));
        }
        const bool seal = card->presentation().showsSeal;
        const bool path = card->presentation().showsVerifiedPath;
        QCOMPARE(bool(qobject_cast<GreenSealView *>(card->sealBadge())), seal);
        QCOMPARE(bool(qobject_cast<VerifiedPathView *>(card->sealBadge())), !seal && path);

        // Ignoring the app drops the arrow: only the current version, muted.
        AppRecord ignored = tallybook;
        ignored.update_mode = QStringLiteral("ignore");
        card->setApp(ignored);
        QCOMPARE(card->versionGroup()->text(), *tallybook.current_version);
    }
};

// The icon: the drawn tile until a lookup finds one, one cached image per
// bundle id, and the desktop entries behind the default source.
class TestAppIcons : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { ApplicationIcons::setShared(nullptr); }

    void tileThenIconThenCache()
    {
        auto icons = std::make_shared<MapApplicationIcons>();
        ApplicationIcons::setShared(icons);
        AppIconCache::instance().clear();
        AppRecord record;
        record.bundle_id = QStringLiteral("org.icon.test");
        record.app_name = QStringLiteral("éclair");
        AppIconView view(record, 38);
        QVERIFY(!view.showsIcon());
        QCOMPARE(view.tileLetter(), QStringLiteral("é"));
        QVERIFY(VarnoTest::waitUntil([] { return !AppIconCache::instance().isLookingUp(); }));
        QCOMPARE(icons->lookups(record.bundle_id), 1);

        // A miss is asked again on the next evaluation; the found icon is kept.
        QImage image(64, 32, QImage::Format_ARGB32);
        image.fill(Qt::red);
        icons->set(record.bundle_id, image);
        view.setApp(record);
        QVERIFY(VarnoTest::waitUntil([&] { return view.showsIcon(); }));
        QCOMPARE(icons->lookups(record.bundle_id), 2);
        AppIconView twin(record, 28);
        QVERIFY(twin.showsIcon());
        QCOMPARE(icons->lookups(record.bundle_id), 2);

        // Drawn to fit with its own aspect ratio, centred.
        const QImage drawn = view.grab().toImage();
        QCOMPARE(QColor(drawn.pixel(19, 19)), QColor(Qt::red));
        QCOMPARE(qAlpha(drawn.pixel(19, 2)), 0);
    }

    // Views made in one turn of the event loop are looked up together, each
    // id once, in groups; every view whose icon exists shows it.
    void manyViewsAreLookedUpTogether()
    {
        auto icons = std::make_shared<MapApplicationIcons>();
        ApplicationIcons::setShared(icons);
        AppIconCache::instance().clear();
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::green);
        std::vector<std::unique_ptr<AppIconView>> views;
        for (int i = 0; i < 40; ++i) {
            AppRecord record;
            record.bundle_id = QStringLiteral("org.batch.%1").arg(i);
            record.app_name = QStringLiteral("Batch %1").arg(i);
            if (i % 7 != 3)
                icons->set(record.bundle_id, image);
            views.push_back(std::make_unique<AppIconView>(record, 38));
            // A second view of the same app asks nothing more.
            if (i == 20)
                views.push_back(std::make_unique<AppIconView>(record, 28));
        }
        QVERIFY(AppIconCache::instance().isLookingUp());
        QVERIFY(VarnoTest::waitUntil([] { return !AppIconCache::instance().isLookingUp(); }));
        for (const auto &view : views) {
            const QString &id = view->app().bundle_id;
            QCOMPARE(icons->lookups(id), 1);
            QCOMPARE(view->showsIcon(), id.section(QLatin1Char('.'), -1).toInt() % 7 != 3);
        }
    }

    void desktopEntries()
    {
        QTemporaryDir data;
        const QString dir = data.path();
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/icons/hicolor/48x48/apps")));
        QVERIFY(image.save(dir + QStringLiteral("/icons/hicolor/48x48/apps/themed.png")));
        QVERIFY(image.save(dir + QStringLiteral("/absolute.png")));
        QVERIFY(VarnoTest::writeFile(dir + QStringLiteral("/applications/org.a.Themed.desktop"),
                                     "[Desktop Entry]\nName=Themed\nIcon=themed\n[Desktop Action x]\nIcon=other\n"));
        QVERIFY(
            VarnoTest::writeFile(dir + QStringLiteral("/applications/org.a.Absolute.desktop"),
                                 "[Desktop Entry]\nIcon = " + (dir + QStringLiteral("/absolute.png")).toUtf8() + "\n"));
        QVERIFY(VarnoTest::writeFile(dir + QStringLiteral("/applications/org.a.None.desktop"),
                                     "[Desktop Entry]\nName=x\n"));
        DesktopEntryIcons icons({dir}, QString());
        QVERIFY(icons.iconFor(QStringLiteral("org.a.Themed")));
        QCOMPARE(icons.iconFor(QStringLiteral("org.a.Absolute"))->size(), QSize(48, 48));
        QVERIFY(!icons.iconFor(QStringLiteral("org.a.None")));
        QVERIFY(!icons.iconFor(QStringLiteral("org.a.Missing")));
        QVERIFY(!icons.iconFor(QStringLiteral("../applications/org.a.Themed")));
        QVERIFY(!icons.iconFor(QString()));
    }
};

// The pop-in: instant under Reduce Motion, animated otherwise, once per badge.
class TestTrustBadges : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void popInOnce()
    {
        {
            AppearanceTest::ReduceMotionScope reduce(true);
            GreenSealView badge(20);
            QCOMPARE(badge.popProgress(), 0.0);
            badge.show();
            QCOMPARE(badge.popProgress(), 1.0);
            QCOMPARE(badge.accessibleName(), QStringLiteral("Green Seal: verified update path"));
        }
        AppearanceTest::ReduceMotionScope motion(false);
        VerifiedPathView badge(20);
        badge.show();
        QVERIFY(badge.appeared());
        QVERIFY(badge.popProgress() < 1.0);
        QVERIFY(VarnoTest::waitUntil([&] { return badge.popProgress() == 1.0; }));
        badge.hide();
        badge.show();
        QCOMPARE(badge.popProgress(), 1.0);
        QCOMPARE(badge.accessibleName(), QStringLiteral("Verified path: one trust check did not pass"));
        QCOMPARE(badge.size(), QSize(20, 20));
    }
};

// What the cards paint from kept work (an elided label's laid-out text, a
// card's face at rest) is what they would paint afresh.
class TestCardPainting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        Appearance::instance().setOverride(std::nullopt);
        QPixmapCache::clear();
    }

    // A label that changed its text, width or font paints as a new label
    // made that way.
    void anElidedLabelPaintsItsCurrentTextWidthAndFont()
    {
        const QFont normal = VarnoFont::ui(13, QFont::Medium);
        const QFont large = VarnoFont::ui(20, QFont::Medium);
        const QString longName = QStringLiteral("An application whose name is far too long for its card");
        const auto fresh = [](const QFont &font, const QString &text, int width) {
            ElidedLabel label(font, VarnoColor::textPrimary(), Qt::ElideRight);
            label.setText(text);
            label.resize(width, 30);
            return label.grab().toImage();
        };
        ElidedLabel label(normal, VarnoColor::textPrimary(), Qt::ElideRight);
        label.setText(longName);
        label.resize(220, 30);
        QImage before = label.grab().toImage();
        QCOMPARE(before, fresh(normal, longName, 220));

        struct Step {
            const char *what;
            std::function<void()> change;
            QFont font;
            QString text;
            int width;
        };
        const QList<Step> steps{
            {"narrower", [&] { label.resize(120, 30); }, normal, longName, 120},
            {"another text", [&] { label.setText(QStringLiteral("Kettle")); }, normal, QStringLiteral("Kettle"), 120},
            {"the long text again", [&] { label.setText(longName); }, normal, longName, 120},
            {"a larger font", [&] { label.setFont(large); }, large, longName, 120},
            {"wider", [&] { label.resize(400, 30); }, large, longName, 400},
        };
        for (const Step &step : steps) {
            step.change();
            const QImage now = label.grab().toImage();
            QVERIFY2(now != before, step.what);
            QVERIFY2(now == fresh(step.font, step.text, step.width), step.what);
            before = now;
        }

        // What it shows is what eliding gives, at, under and over the width
        // the text needs, and for a text of several length variants.
        const QString variants = longName + QChar(0x9c) + QStringLiteral("Short");
        const int needed = int(std::ceil(QFontMetricsF(normal).horizontalAdvance(QStringLiteral("Kettle"))));
        const QList<std::pair<QString, int>> shown{
            {QStringLiteral("Kettle"), needed},
            {QStringLiteral("Kettle"), needed - 1},
            {QStringLiteral("Kettle"), needed + 1},
            {longName, 120},
            {variants, 120},
            {variants, 2000},
            {QString(), 50},
        };
        ElidedLabel plain(normal, VarnoColor::textPrimary(), Qt::ElideRight);
        for (const auto &[text, width] : shown) {
            plain.setText(text);
            plain.resize(width, 30);
            QCOMPARE(plain.shownText(), plain.fontMetrics().elidedText(text, Qt::ElideRight, width));
        }

        // The size hint takes the same measure as the eliding: the text's
        // advance as QFontMetrics rounds it (a text of variants: its first).
        const QStringList hinted{QStringLiteral("K"),
                                 QStringLiteral("Kettle "),
                                 QStringLiteral("  Ink well"),
                                 QStringLiteral("Ærø ﬁx"),
                                 variants,
                                 QString()};
        for (const QFont &font : {normal, large}) {
            plain.setFont(font);
            for (const QString &text : hinted) {
                plain.setText(text);
                QCOMPARE(plain.sizeHint(),
                         QSize(plain.fontMetrics().horizontalAdvance(text) + 1, plain.fontMetrics().height()));
            }
        }
    }

    // A face copied in parts (the opaque band inside the border copied, the
    // rest blended) is the face drawn whole, over any background, at every
    // size and whole-number pixel ratio; a face that is not opaque inside is
    // drawn whole.
    void aCardFaceDrawnInPartsIsTheWholeFace()
    {
        const auto faceOf = [](QSize size, qreal ratio, const QColor &inside, bool ring) {
            QPixmap face(size * ratio);
            face.setDevicePixelRatio(ratio);
            face.fill(Qt::transparent);
            QPainter painter(&face);
            paintCardFace(painter, QRectF(QPointF(0, 0), QSizeF(size)), inside, QColor(40, 90, 200, 110), ring);
            return face;
        };
        const auto drawn = [](const QPixmap &face, bool inParts, bool opaqueInside) {
            QImage canvas(face.size(), QImage::Format_ARGB32_Premultiplied);
            canvas.setDevicePixelRatio(face.devicePixelRatio());
            canvas.fill(QColor(255, 0, 255));
            QPainter painter(&canvas);
            if (inParts)
                drawCardFace(painter, face, cardRadius, opaqueInside);
            else
                painter.drawPixmap(0, 0, face);
            return canvas;
        };
        const QColor opaque(236, 230, 220);
        const QColor translucent(236, 230, 220, 120);
        for (const QSize size : {QSize(300, 80), QSize(2 * cardRadius, 2 * cardRadius), QSize(25, 70), QSize(23, 90)}) {
            for (const qreal ratio : {1.0, 2.0, 1.5}) {
                for (const bool ring : {false, true}) {
                    const QByteArray what = QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height())
                        + '@' + QByteArray::number(ratio) + (ring ? " ring" : "");
                    const QPixmap face = faceOf(size, ratio, opaque, ring);
                    QVERIFY2(drawn(face, true, true) == drawn(face, false, true), what.constData());
                    const QPixmap seeThrough = faceOf(size, ratio, translucent, ring);
                    QVERIFY2(drawn(seeThrough, true, false) == drawn(seeThrough, false, false), what.constData());
                }
            }
        }
    }

    // A card's status line paints as a word-wrapping QLabel with its text,
    // font, colour and size would, before and after its record changes.
    void aCardsStatusLinePaintsAsALabel()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        // Two records with the same Update button and other status texts,
        // and one whose status wraps.
        const AppRecord outdated = makeRecord(
            R"({"bundle_id":"org.line.a","app_name":"Line","current_version":"1.0","latest_version":"2.0","update_mechanism":"cask"})");
        const AppRecord atRisk = makeRecord(
            R"({"bundle_id":"org.line.a","app_name":"Line","current_version":"1.0","latest_version":"2.0","update_mechanism":"cask","risk_tier":"high"})");
        const AppRecord wrapping = makeRecord(
            R"({"bundle_id":"org.line.a","app_name":"Line","update_mechanism":"vendor_self_update","vendor_updater_name":"an updater whose name is long enough to wrap over several lines of a card"})");
        model.setApps({outdated});
        AppCardSimpleView card(&model, outdated, {});
        card.resize(300, 120);
        card.show();
        QLabel *status = nullptr;
        for (QLabel *label : card.findChildren<QLabel *>()) {
            if (label->text() == card.statusText())
                status = label;
        }
        QVERIFY(status);
        const auto asALabel = [status] {
            // A child, as the status line is: painted over nothing.
            QWidget host;
            QLabel label(&host);
            label.setTextFormat(Qt::PlainText);
            label.setWordWrap(true);
            label.setFont(status->font());
            label.setPalette(status->palette());
            label.setText(status->text());
            label.resize(status->size());
            return label.grab().toImage();
        };
        QCOMPARE(status->grab().toImage(), asALabel());
        for (const AppRecord &record : {atRisk, wrapping}) {
            const QString before = status->text();
            card.bind(record);
            QVERIFY(status->text() != before);
            QCOMPARE(status->grab().toImage(), asALabel());
        }
        QVERIFY(status->height() > QFontMetrics(status->font()).height());
    }

    // The card places its parts in the room heightFor() measured: the icon,
    // the texts and the action area side by side inside the padding, each
    // centred; the status line as tall as its wrapped text; laid out again
    // when it shows another record or gets another width.
    void aCardsPartsSitInTheRoomItsHeightMeasures()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        const AppRecord current = makeRecord(
            R"({"bundle_id":"org.room.a","app_name":"Room","current_version":"2.0","latest_version":"2.0","update_mechanism":"cask"})");
        const AppRecord outdated = makeRecord(
            R"({"bundle_id":"org.room.a","app_name":"Room","current_version":"1.0","latest_version":"2.0","update_mechanism":"cask"})");
        const AppRecord wrapping = makeRecord(
            R"({"bundle_id":"org.room.a","app_name":"Room","update_mechanism":"vendor_self_update","vendor_updater_name":"an updater whose name is long enough to wrap over several lines of a card"})");
        model.setApps({current});
        QWidget host;
        host.resize(600, 400);
        AppCardSimpleView card(&model, current, {}, &host);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QWidget *icon = card.iconView();
        QWidget *name = card.nameLabel();
        QLabel *status = card.statusLabel();
        const QList<AppRecord> records{current, outdated, wrapping, current};
        for (const int width : {240, 320, 480}) {
            // As the shelf does: one size for a row, records bound in turn.
            int height = 0;
            for (const AppRecord &record : records)
                height = std::max(height, AppCardSimpleView::heightFor(model, record, width));
            card.resize(width, height);
            for (const AppRecord &record : records) {
                card.bind(record);
                const QByteArray what = card.statusText().toUtf8() + " at " + QByteArray::number(width);
                const QRect inner = card.rect().adjusted(16, 16, -16, -16);
                QVERIFY2(inner.contains(icon->geometry()) && inner.contains(name->geometry())
                             && inner.contains(status->geometry()),
                         what.constData());
                QVERIFY2(qAbs(icon->geometry().center().y() - inner.center().y()) <= 1, what.constData());
                QCOMPARE(name->x(), icon->geometry().right() + 1 + 12);
                QCOMPARE(status->x(), name->x());
                QCOMPARE(status->y(), name->geometry().bottom() + 1 + 2);
                QVERIFY2(status->height() >= status->heightForWidth(status->width()), what.constData());
                if (&record == &records.at(2))
                    QVERIFY2(status->height() > QFontMetrics(status->font()).height(), what.constData());
                const int textsMiddle = (name->y() + status->geometry().bottom()) / 2;
                QVERIFY2(qAbs(textsMiddle - inner.center().y()) <= 1, what.constData());
                QWidget *action = card.actionArea();
                if (card.actionArea()->content()) {
                    QVERIFY2(inner.contains(action->geometry()), what.constData());
                    QCOMPARE(action->geometry().right(), inner.right());
                    QCOMPARE(action->x(), status->geometry().right() + 1 + 12);
                    QVERIFY2(action->size() == action->sizeHint(), what.constData());
                } else {
                    QCOMPARE(status->geometry().right(), inner.right());
                }
            }
        }
    }

    // Cards at rest share faces of the same size and colours; a card never
    // shows a face kept for another border or scheme.
    void aCardAtRestPaintsItsOwnFace()
    {
        VarnoTest::TempHome home;
        FakeModelServices fakes;
        AppModel model(fakes.services());
        const AppRecord current = makeRecord(
            R"({"bundle_id":"org.face.a","app_name":"Face","current_version":"2.0","latest_version":"2.0","update_mechanism":"cask"})");
        const AppRecord outdated = makeRecord(
            R"({"bundle_id":"org.face.a","app_name":"Face","current_version":"1.0","latest_version":"2.0","update_mechanism":"cask"})");
        const AppRecord atRisk = makeRecord(
            R"({"bundle_id":"org.face.a","app_name":"Face","current_version":"1.0","latest_version":"2.0","update_mechanism":"cask","risk_tier":"high"})");
        model.setApps({current});
        using Scheme = Appearance::Scheme;
        struct Look {
            AppRecord record;
            Scheme scheme;
        };
        struct Case {
            const char *what;
            Look first;
            Look second;
        };
        const QList<Case> cases{
            {"another border", {current, Scheme::Dark}, {outdated, Scheme::Dark}},
            {"a risk's border", {outdated, Scheme::Dark}, {atRisk, Scheme::Dark}},
            {"another scheme", {outdated, Scheme::Dark}, {outdated, Scheme::Light}},
        };
        const auto paint = [&model](const Look &look) {
            Appearance::instance().setOverride(look.scheme);
            AppCardSimpleView card(&model, look.record, {});
            card.resize(300, 80);
            return card.grab().toImage();
        };
        for (const Case &c : cases) {
            QPixmapCache::clear();
            const QImage first = paint(c.first);
            const QImage second = paint(c.second);
            QPixmapCache::clear();
            QVERIFY2(second == paint(c.second), c.what);
            QVERIFY2(first != second, c.what);
        }
    }
};

VARNO_TEST_CLASS(TestCardViews)
VARNO_TEST_CLASS(TestAppIcons)
VARNO_TEST_CLASS(TestTrustBadges)
VARNO_TEST_CLASS(TestCardPainting)

#include "tst_cardviews.moc"
