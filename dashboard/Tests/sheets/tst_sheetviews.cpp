#include "TestRegistry.h"
#include "TestSupport.h"

#include "AppearanceTestSupport.h"
#include "ModelFixture.h"

#include "engine/UpdateEvent.h"
#include "engine/UpdateStream.h"
#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "platform/MainBundle.h"
#include "records/RemediationRegistry.h"
#include "sheets/AdoptConsentSheet.h"
#include "sheets/ContributeSheet.h"
#include "sheets/UpdateFlowView.h"
#include "sheets/UpdateRowView.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/SheetFactories.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <cmath>

using namespace std::chrono_literals;
using Phase = AdoptConsentSheet::Phase;

Q_DECLARE_METATYPE(AdoptConsentSheet::Phase)

namespace {

QByteArray journal()
{
    return VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
}

bool clearJournal()
{
    return VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal"), QStringLiteral("--clear")}).exitCode
        == 0;
}

// The journal's argument vector of one engine run of the app.
QByteArray call(std::initializer_list<const char *> words)
{
    QByteArray text = "[\"--engine-contract-version\", \"1\"";
    for (const char *word : words)
        text += ", \"" + QByteArray(word) + "\"";
    return text + "]";
}

} // namespace

// The adopt consent and contribution sheets against the real model and the
// engine stand-in: what they ask the engine, and what they show.
class TestRemediationSheets : public QObject {
    Q_OBJECT

    std::unique_ptr<ModelFixture> f;
    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;

    AppRecord app(const char *id) const { return *f->app(QString::fromLatin1(id)); }

    QPointer<AdoptConsentSheet> openAdopt(const char *id)
    {
        auto *sheet = static_cast<AdoptConsentSheet *>(
            SheetFactories::makeAdoptConsentSheet(f->model.get(), app(id), nullptr));
        sheet->show();
        return sheet;
    }

    QPointer<ContributeSheet> openContribute(const char *id)
    {
        auto *sheet = static_cast<ContributeSheet *>(
            SheetFactories::makeContributeSheet(f->model.get(), app(id), nullptr));
        sheet->show();
        return sheet;
    }

    static bool settled(const AdoptConsentSheet &sheet)
    {
        return sheet.phase().kind != Phase::Kind::loading && sheet.phase().kind != Phase::Kind::adopting;
    }

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }

    void init()
    {
        f = std::make_unique<ModelFixture>();
        QVERIFY(f->ready);
        QVERIFY(f->scanDirectly());
        VarnoTest::await(f->model->load());
        QVERIFY(VarnoTest::waitUntil([this] { return !f->model->isEnrichingSeals(); }));
        QVERIFY(clearJournal());
        m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true);
    }

    void cleanup()
    {
        // Whatever a sheet started ends before the home goes.
        QVERIFY(VarnoTest::waitUntil([this] { return !f->model->isFixing(); }));
        m_noMotion.reset();
        f.reset();
    }

    // Preview, consent, adoption: a signed match is adopted as shown.
    void adoptSignedApp()
    {
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.handmade");
        QCOMPARE(sheet->phase().kind, Phase::Kind::loading);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Checking the Homebrew Cask catalog…")));
        QCOMPARE(sheet->footerButton()->text(), QStringLiteral("Cancel"));
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::ready);
        QVERIFY(journal().contains(call({"adopt", "--dry-run", "--json", "Handmade Paint"})));
        const QStringList texts = sheet->stateTexts();
        QVERIFY(texts.contains(AdoptFlow::consentBody(QStringLiteral("Handmade Paint"))));
        QVERIFY(texts.contains(QStringLiteral("handmade-paint")));
        QVERIFY(texts.contains(QStringLiteral("Installed version")));
        QVERIFY(texts.contains(QStringLiteral("Cask version")));
        QVERIFY(texts.contains(QStringLiteral("Code signature verified")));
        QVERIFY(!texts.contains(AdoptConsentSheet::signatureExplanation));
        QVERIFY(!texts.contains(AdoptConsentSheet::unsignedRefusedWarning));
        QVERIFY(sheet->confirmButton()->isVisibleTo(sheet));
        QCOMPARE(sheet->confirmButton()->text(), QStringLiteral("Adopt"));

        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QCOMPARE(sheet->phase().kind, Phase::Kind::adopting);
        QVERIFY(!sheet->confirmButton()->isVisibleTo(sheet));
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Adopting Handmade Paint…")));
        QCOMPARE(sheet->confirmedCaskToken(), std::optional<QString>(QStringLiteral("handmade-paint")));
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::success);
        const QByteArray runs = journal();
        QVERIFY(runs.contains(call({"adopt", "--approved", "Handmade Paint", "--cask", "handmade-paint"})));
        QVERIFY(!runs.contains("--allow-unsigned"));
        QCOMPARE(sheet->footerButton()->text(), QStringLiteral("Done"));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.handmade")), UpdateState::done());
        // Still outdated after the adoption: Homebrew can update it now.
        QCOMPARE(f->model->incidents().value(QStringLiteral("org.sim.handmade")).code, QStringLiteral("BREW_NO_CASK"));
        QVERIFY(sheet->stateTexts().contains(
            QStringLiteral("An update is still pending — Brusk can now install it via Homebrew.")));
        QTest::mouseClick(sheet->footerButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return sheet.isNull(); }));
    }

    // An unsigned app: refused while the setting is off, offered as an
    // override once it is on, and adopted with the unsigned flag.
    void adoptUnsignedApp()
    {
        QVERIFY(!f->model->allowUnsignedAdopt());
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.roughcut");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::ready);
        QStringList texts = sheet->stateTexts();
        QVERIFY(texts.contains(QStringLiteral("Code signature unverified")));
        QVERIFY(texts.contains(AdoptConsentSheet::signatureExplanation));
        // The downgrade warning stands above the Settings hint.
        const QString downgrade = QStringLiteral("The Homebrew Cask version (2.0) is older than what's installed (2.1).");
        QVERIFY(texts.contains(downgrade));
        QVERIFY(texts.indexOf(downgrade) < texts.indexOf(AdoptConsentSheet::unsignedRefusedWarning));
        QVERIFY(!sheet->confirmButton()->isVisibleTo(sheet));
        QCOMPARE(sheet->footerButton()->text(), QStringLiteral("Cancel"));

        f->model->setAllowUnsignedAdopt(true);
        QVERIFY(sheet->confirmButton()->isVisibleTo(sheet));
        QCOMPARE(sheet->confirmButton()->text(), QStringLiteral("Adopt anyway (unsigned)"));
        QVERIFY(!sheet->stateTexts().contains(AdoptConsentSheet::unsignedRefusedWarning));
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::success);
        QVERIFY(journal().contains(call({"adopt", "--approved", "Roughcut", "--cask", "roughcut", "--allow-unsigned"})));
        sheet->close();
    }

    // No cask for the app: the engine's reason, Done and nothing to confirm.
    void adoptWithoutMatch()
    {
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.mossgrid");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::noMatch);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("No clean match")));
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("No cask in the Homebrew Cask catalog matches Mossgrid.")));
        QCOMPARE(sheet->footerButton()->text(), QStringLiteral("Done"));
        QVERIFY(!sheet->confirmButton()->isVisibleTo(sheet));
        QVERIFY(!journal().contains("--approved"));
        sheet->close();
    }

    // The dry run fails: the sheet says so and the model's error has the engine's words.
    void adoptCheckFails()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"adopt --dry-run","exit":1,"stderr":"Catalog offline."}]})"));
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.handmade");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase(), Phase::failed(AdoptConsentSheet::checkFailedText(QStringLiteral("Handmade Paint"))));
        QVERIFY(sheet->stateTexts().contains(QStringLiteral(
            "Brusk couldn't check the Homebrew Cask catalog for Handmade Paint. Try again in a moment.")));
        QVERIFY(f->model->error().value_or(QString()).contains(QStringLiteral("Catalog offline.")));
        QCOMPARE(sheet->footerButton()->text(), QStringLiteral("Done"));
        sheet->close();
    }

    // Homebrew needs an administrator: the cause, the command to run by hand
    // and the raw text behind a disclosure.
    void adoptFailsForPrivileges()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"adopt --approved","adopt_fail":"SUDO_REQUIRED"}]})"));
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.handmade");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::failed);
        QVERIFY(sheet->phase().text.startsWith(QStringLiteral("Adopt didn't take: ")));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.handmade")).kind(), UpdateState::Kind::failed);
        QCOMPARE(f->model->incidents().value(QStringLiteral("org.sim.handmade")).code, QStringLiteral("SUDO_REQUIRED"));
        const QStringList texts = sheet->stateTexts();
        QVERIFY(texts.contains(QStringLiteral("Adopt didn't take")));
        QVERIFY(texts.contains(RemediationRegistry::shared().cause(QStringLiteral("SUDO_REQUIRED"))));
        QVERIFY(sheet->commandLine());
        QCOMPARE(sheet->commandLine()->text(), QStringLiteral("brew install --cask handmade-paint"));
        QVERIFY(sheet->commandLine()->textInteractionFlags() & Qt::TextSelectableByMouse);
        // The raw text is there, collapsed until asked for.
        QVERIFY(!texts.contains(sheet->phase().text));
        QToolButton *raw = sheet->rawOutputToggle();
        QVERIFY(raw);
        raw->click();
        QVERIFY(sheet->stateTexts().contains(sheet->phase().text));
        sheet->close();
    }

    // What the sheet shows of an incomplete dry run or failure: an unknown
    // signature is not explained as a bad one, a preview without a token
    // names none, and no brew command is offered without a token to put in it.
    void adoptSheetEdgeCases_data()
    {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("incident");
        QTest::addColumn<std::optional<QString>>("confirmedToken");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("notShown");
        QTest::addColumn<std::optional<QString>>("command");

        const auto preview = [](std::optional<QString> token, std::optional<bool> signatureOk) {
            AdoptFlow::Preview p;
            p.match_found = true;
            p.already_managed = false;
            p.cask_token = std::move(token);
            p.current_version = QStringLiteral("1.0");
            p.cask_version = QStringLiteral("1.1");
            p.signature_ok = signatureOk;
            return p;
        };
        const QString token = QStringLiteral("handmade-paint");
        const QString explanation = AdoptConsentSheet::signatureExplanation;
        const QString privileges = RemediationRegistry::shared().cause(QStringLiteral("SUDO_REQUIRED"));
        const Phase failed = Phase::failed(QStringLiteral("Adopt didn't take: sudo is required."));
        QTest::newRow("no signature answer: no explanation")
            << Phase::ready(preview(token, std::nullopt)) << "BREW_NO_CASK" << std::optional<QString>()
            << QStringList{"Code signature unverified", token} << QStringList{explanation} << std::optional<QString>();
        QTest::newRow("a bad signature: explained")
            << Phase::ready(preview(token, false)) << "BREW_NO_CASK" << std::optional<QString>()
            << QStringList{"Code signature unverified", explanation} << QStringList{} << std::optional<QString>();
        QTest::newRow("a preview without a token: unknown")
            << Phase::ready(preview(std::nullopt, true)) << "BREW_NO_CASK" << std::optional<QString>()
            << QStringList{"Cask token", "unknown", "Code signature verified"} << QStringList{explanation}
            << std::optional<QString>();
        QTest::newRow("privileges without a token: no command")
            << failed << "SUDO_REQUIRED" << std::optional<QString>() << QStringList{"Adopt didn't take", privileges}
            << QStringList{} << std::optional<QString>();
        QTest::newRow("privileges with the confirmed token: its command")
            << failed << "SUDO_REQUIRED" << std::optional<QString>(token) << QStringList{"Adopt didn't take", privileges}
            << QStringList{} << std::optional<QString>(QStringLiteral("brew install --cask handmade-paint"));
    }

    void adoptSheetEdgeCases()
    {
        QFETCH(Phase, phase);
        QFETCH(QString, incident);
        QFETCH(std::optional<QString>, confirmedToken);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, notShown);
        QFETCH(std::optional<QString>, command);
        // An app installed by hand: no cask token of its own.
        AppRecord handmade = makeRecord(
            R"({"bundle_id":"org.sim.handmade","app_name":"Handmade Paint",)"
            R"("current_version":"1.0","latest_version":"1.1","update_mechanism":"unknown"})");
        handmade.last_incident_code = incident;
        handmade.last_incident_kind = incident == QLatin1String("SUDO_REQUIRED") ? QStringLiteral("failed")
                                                                                 : QStringLiteral("skipped");
        AppModel model(FakeModelServices().services());
        model.setApps({handmade});
        model.reconcileIncidents(model.apps(), model.incidentEventSeq());
        AdoptConsentSheet sheet(&model, handmade);
        sheet.setPhaseForPreview(phase, confirmedToken);
        sheet.show();
        const QStringList texts = sheet.stateTexts();
        for (const QString &text : shown)
            QVERIFY2(texts.contains(text),
                     qPrintable(text + QStringLiteral(" is not shown in: ") + texts.join(QLatin1Char('|'))));
        for (const QString &text : notShown)
            QVERIFY2(!texts.contains(text), qPrintable(text + QStringLiteral(" is shown")));
        QCOMPARE(sheet.commandLine() ? std::optional<QString>(sheet.commandLine()->text()) : std::nullopt, command);
    }

    // Any other failure shows the model's message directly.
    void adoptFailsOtherwise()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"adopt --approved","adopt_fail":"BREW_LOCKED"}]})"));
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.handmade");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::failed);
        QVERIFY(sheet->stateTexts().contains(sheet->phase().text));
        QVERIFY(!sheet->rawOutputToggle());
        QVERIFY(!sheet->commandLine());
        sheet->close();
    }

    // The model refuses to start while a scan runs.
    void adoptRefusedWhileBusy()
    {
        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.handmade");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        auto scan = f->model->scan();
        QVERIFY(f->model->isScanning());
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QCOMPARE(sheet->phase().kind, Phase::Kind::refused);
        QVERIFY(sheet->stateTexts().contains(QStringLiteral("Couldn't start")));
        QVERIFY(sheet->phase().text.startsWith(QStringLiteral("Brusk can't adopt right now")));
        QCOMPARE(sheet->footerButton()->text(), QStringLiteral("Cancel"));
        VarnoTest::await(std::move(scan));
        QVERIFY(!journal().contains("--approved"));
        sheet->close();
    }

    // Closing the sheet mid-call lets the model finish: the outcome lands in
    // the app's update state, and nothing writes into the closed sheet.
    void closedWhileWorking()
    {
        QPointer<AdoptConsentSheet> loading = openAdopt("org.sim.handmade");
        loading->close();
        QVERIFY(VarnoTest::waitUntil([&] { return loading.isNull(); }));
        QVERIFY(VarnoTest::waitUntil([&] { return !f->model->isFixing(); }));

        QPointer<AdoptConsentSheet> sheet = openAdopt("org.sim.handmade");
        QVERIFY(VarnoTest::waitUntil([&] { return settled(*sheet); }));
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QCOMPARE(sheet->phase().kind, Phase::Kind::adopting);
        QTest::mouseClick(sheet->footerButton(), Qt::LeftButton); // "Cancel" closes, cancels nothing
        QVERIFY(VarnoTest::waitUntil([&] { return sheet.isNull(); }));
        QVERIFY(VarnoTest::waitUntil([&] { return !f->model->isFixing(); }));
        QCOMPARE(f->model->updateState(QStringLiteral("org.sim.handmade")), UpdateState::done());
        QCOMPARE(f->app("org.sim.handmade")->update_mechanism, std::optional<QString>(QStringLiteral("cask")));
    }

    // --- Contribution sheet -----------------------------------------------------------------

    // Every segment of the mechanism picker shows its label whole, side by
    // side within the picker's width.
    void contributeSegmentsShowTheirLabelsWhole()
    {
        // In the app's own face, as the app draws them.
        const QDir fonts(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/fonts/Geist"));
        QList<int> added;
        for (const QFileInfo &file : fonts.entryInfoList({QStringLiteral("*.ttf")}, QDir::Files))
            added.append(QFontDatabase::addApplicationFont(file.absoluteFilePath()));
        const auto removeFonts = qScopeGuard([&added] {
            for (const int id : std::as_const(added))
                QFontDatabase::removeApplicationFont(id);
        });
        QVERIFY(!added.isEmpty() && !added.contains(-1));
        QPointer<ContributeSheet> sheet = openContribute("org.sim.mossgrid");
        sheet->layout()->activate();
        QWidget *picker = sheet->findChild<QWidget *>(QStringLiteral("mechanism-picker"));
        QVERIFY(picker);
        picker->layout()->activate();
        int right = -1;
        for (qsizetype i = 0; i < ContributeRules::mechanisms().size(); ++i) {
            const auto &[tag, label] = ContributeRules::mechanisms().at(i);
            auto *segment = qobject_cast<QToolButton *>(sheet->mechanismButton(tag));
            QVERIFY(segment);
            QCOMPARE(segment->text(), label);
            QCOMPARE(segment->accessibleName(), label);
            const QFontMetricsF metrics(segment->font());
            // The label and the segment's edges: the first draws two lines,
            // the others the one on their right.
            const int edges = i == 0 ? 2 : 1;
            QVERIFY2(std::ceil(metrics.horizontalAdvance(label)) + edges <= segment->width(), qPrintable(label));
            QVERIFY(segment->x() > right);
            right = segment->geometry().right();
        }
        QVERIFY(right < picker->width());
        sheet->close();
    }

    void contributeSendsWhatWasTyped()
    {
        QPointer<ContributeSheet> sheet = openContribute("org.sim.mossgrid");
        QVERIFY(sheet->mechanismButton(QStringLiteral("sparkle"))->isChecked());
        QVERIFY(!sheet->saveButton()->isEnabled());
        QVERIFY(!sheet->caskField()->isVisibleTo(sheet));
        QVERIFY(!sheet->masField()->isVisibleTo(sheet));
        QTest::keyClicks(sheet->feedField(), QStringLiteral("https://mossgrid.example/appcast.xml"));
        QVERIFY(sheet->saveButton()->isEnabled());
        QTest::keyClicks(sheet->homepageField(), QStringLiteral("https://mossgrid.example/?a=1&b=$(id)"));
        sheet->pushToggle()->setChecked(true);
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(sheet->isSubmitting());
        QVERIFY(!sheet->saveButton()->isEnabled());
        QVERIFY(!sheet->cancelButton()->isEnabled());
        QVERIFY(VarnoTest::waitUntil([&] { return sheet.isNull(); }));
        QVERIFY(journal().contains(call({"contribute", "--bundle-id", "org.sim.mossgrid", "--mechanism", "sparkle",
                                         "--feed-url", "https://mossgrid.example/appcast.xml", "--homepage-url",
                                         "https://mossgrid.example/?a=1&b=$(id)", "--push"})));
        // The library was read again: the card shows the new classification.
        QCOMPARE(f->app("org.sim.mossgrid")->update_mechanism, std::optional<QString>(QStringLiteral("sparkle")));
    }

    // Switching mechanisms: the hidden token stays typed but is not sent.
    void contributeMechanismSwitch()
    {
        QPointer<ContributeSheet> sheet = openContribute("org.sim.mossgrid");
        sheet->mechanismButton(QStringLiteral("cask"))->click();
        QVERIFY(sheet->caskField()->isVisibleTo(sheet));
        QVERIFY(!sheet->saveButton()->isEnabled());
        QTest::keyClicks(sheet->caskField(), QStringLiteral("mossgrid"));
        QVERIFY(sheet->saveButton()->isEnabled());
        sheet->mechanismButton(QStringLiteral("mas"))->click();
        QVERIFY(!sheet->caskField()->isVisibleTo(sheet));
        QVERIFY(!sheet->saveButton()->isEnabled());
        sheet->mechanismButton(QStringLiteral("vendor_self_update"))->click();
        QVERIFY(sheet->saveButton()->isEnabled());
        QCOMPARE(sheet->caskField()->text(), QStringLiteral("mossgrid"));
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return sheet.isNull(); }));
        QVERIFY(journal().contains(
                    call({"contribute", "--bundle-id", "org.sim.mossgrid", "--mechanism", "vendor_self_update"}) + "\n")
                || journal().contains(
                    call({"contribute", "--bundle-id", "org.sim.mossgrid", "--mechanism", "vendor_self_update"})));
        QVERIFY(!journal().contains("--cask-token"));
    }

    // A value that begins with "-" is refused before anything runs.
    void contributeRefusesOptionLikeValues_data()
    {
        QTest::addColumn<QString>("mechanism");
        QTest::addColumn<int>("fieldIndex"); // feed, homepage, download, cask, mas
        QTest::addColumn<QString>("name");
        QTest::newRow("feed") << "sparkle" << 0 << "Feed URL";
        QTest::newRow("homepage") << "vendor_self_update" << 1 << "Homepage URL";
        QTest::newRow("download") << "direct_download" << 2 << "Download URL";
        QTest::newRow("cask token") << "cask" << 3 << "Homebrew Cask token";
        QTest::newRow("item id") << "mas" << 4 << "Mac App Store item ID";
    }
    void contributeRefusesOptionLikeValues()
    {
        QFETCH(QString, mechanism);
        QFETCH(int, fieldIndex);
        QFETCH(QString, name);
        QPointer<ContributeSheet> sheet = openContribute("org.sim.mossgrid");
        sheet->mechanismButton(mechanism)->click();
        const QList<QLineEdit *> fields{sheet->feedField(), sheet->homepageField(), sheet->downloadField(),
                                        sheet->caskField(), sheet->masField()};
        // The mechanism's own field holds something valid unless it is the one tested.
        if (mechanism == QLatin1String("direct_download") && fieldIndex != 2)
            QTest::keyClicks(sheet->downloadField(), QStringLiteral("https://d.example"));
        QTest::keyClicks(fields.at(fieldIndex), QStringLiteral("--push"));
        QVERIFY(sheet->saveButton()->isEnabled());
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->isSubmitting(); }));
        QVERIFY(sheet->errorMessage());
        QVERIFY(sheet->errorMessage()->contains(name));
        QVERIFY(sheet->errorLine()->isVisibleTo(sheet));
        QCOMPARE(sheet->errorLine()->color().dark(), QStringLiteral("#E57373"));
        QVERIFY(sheet->saveButton()->isEnabled());
        QVERIFY(!journal().contains("\"contribute\""));
        sheet->close();
    }

    // The engine refuses: its words in red, everything typed kept, and a
    // second Save clears the old error before it runs.
    void contributeEngineFailure()
    {
        QPointer<ContributeSheet> sheet = openContribute("org.sim.mossgrid");
        QTest::keyClicks(sheet->feedField(), QStringLiteral("ftp://mossgrid.example/feed"));
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->isSubmitting(); }));
        QVERIFY(!sheet.isNull());
        QVERIFY(sheet->errorMessage());
        QVERIFY2(sheet->errorMessage()->contains(QStringLiteral("must be a web address")),
                 qPrintable(*sheet->errorMessage()));
        QVERIFY(sheet->errorLine()->isVisibleTo(sheet));
        QVERIFY(sheet->saveButton()->isEnabled());
        QVERIFY(sheet->cancelButton()->isEnabled());
        QCOMPARE(sheet->feedField()->text(), QStringLiteral("ftp://mossgrid.example/feed"));
        QVERIFY(journal().contains(call({"contribute", "--bundle-id", "org.sim.mossgrid", "--mechanism", "sparkle",
                                         "--feed-url", "ftp://mossgrid.example/feed"})));
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(!sheet->errorMessage());
        QVERIFY(!sheet->errorLine()->isVisibleTo(sheet));
        QVERIFY(VarnoTest::waitUntil([&] { return !sheet->isSubmitting(); }));
        sheet->close();
    }

    // Closed while the engine runs: a failure becomes the model's error.
    void contributeClosedMidCall()
    {
        QVERIFY(f->setKnobs(R"({"rules":[{"command":"contribute","exit":1,"stderr":"Catalog locked.","delay":0.3}]})"));
        QPointer<ContributeSheet> sheet = openContribute("org.sim.mossgrid");
        QTest::keyClicks(sheet->feedField(), QStringLiteral("https://m.example/f"));
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        QVERIFY(sheet->isSubmitting());
        sheet->close();
        QVERIFY(VarnoTest::waitUntil([&] { return sheet.isNull(); }));
        QVERIFY(VarnoTest::waitUntil([&] { return f->model->error().has_value(); }));
        QVERIFY(f->model->error()->contains(QStringLiteral("Catalog locked.")));
    }
};

// The update-run sheet over the model's state: set states as a table, and a
// live streamed run with its controls.
class TestUpdateFlowSheet : public QObject {
    Q_OBJECT

    static AppRecord rec(const char *id, const char *name, const char *mechanism, bool outdated)
    {
        return makeRecord(QStringLiteral(R"({"bundle_id":"%1","app_name":"%2","update_mechanism":"%3",)"
                                         R"("current_version":"1.0","latest_version":"%4"})")
                              .arg(QLatin1String(id), QLatin1String(name), QLatin1String(mechanism),
                                   outdated ? QStringLiteral("2.0") : QStringLiteral("1.0"))
                              .toUtf8());
    }

    static UpdateEvent queueStart(const QStringList &ids)
    {
        UpdateEvent::QueueStart start;
        start.count = ids.size();
        for (const QString &id : ids)
            start.apps.append(UpdateEvent::QueuedApp{id, id, std::nullopt, std::nullopt, std::nullopt});
        return UpdateEvent(start);
    }
    static UpdateEvent appStart(const char *id) { return UpdateEvent(UpdateEvent::AppStart{id, 1, 1, "installing"}); }
    static UpdateEvent appDone(const char *id, bool success, bool skipped = false, const char *code = nullptr)
    {
        UpdateEvent::AppDone done;
        done.bundleId = QString::fromLatin1(id);
        done.success = success;
        done.skipped = skipped;
        if (!success)
            done.error = QStringLiteral("It went wrong.");
        if (code)
            done.errorCode = QString::fromLatin1(code);
        return UpdateEvent(done);
    }

    // Gives the model `count` outdated cask apps named `<prefix><i>` and
    // returns their ids in order.
    static QStringList setOutdatedApps(AppModel &model, const char *prefix, int count)
    {
        QList<AppRecord> apps;
        QStringList ids;
        for (int i = 0; i < count; ++i) {
            const QByteArray id = prefix + QByteArray::number(i);
            apps.append(rec(id.constData(), id.constData(), "cask", true));
            ids.append(QString::fromLatin1(id));
        }
        model.setApps(apps);
        return ids;
    }

    static QStringList rowIds(const QList<UpdateRowView *> &rows)
    {
        QStringList ids;
        for (const UpdateRowView *row : rows)
            ids.append(row->app().bundle_id);
        return ids;
    }

    std::unique_ptr<AppearanceTest::ReduceMotionScope> m_noMotion;

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }
    void init() { m_noMotion = std::make_unique<AppearanceTest::ReduceMotionScope>(true); }
    void cleanup() { m_noMotion.reset(); }

    void pictures_data()
    {
        QTest::addColumn<QList<UpdateEvent>>("events");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("completion");
        QTest::addColumn<QStringList>("waiting");

        const QStringList all{"a", "b", "c"};
        QTest::newRow("before the first event") << QList<UpdateEvent>{} << QStringList{"a", "b", "c"}
                                                << "Waiting to start..." << false << "" << QStringList{};
        QTest::newRow("queued") << QList<UpdateEvent>{queueStart(all)} << QStringList{"a", "b", "c"}
                                << "Up next in the queue..." << false << "" << QStringList{};
        QTest::newRow("running first") << QList<UpdateEvent>{queueStart(all), appStart("a"), appDone("a", true),
                                                             appStart("b")}
                                       << QStringList{"b", "c", "a"} << "Running your update queue..." << false << ""
                                       << QStringList{};
        QTest::newRow("paused") << QList<UpdateEvent>{queueStart(all), appStart("a"),
                                                      UpdateEvent(UpdateEvent::QueuePaused{})}
                                << QStringList{"a", "b", "c"} << "Queue paused." << false << "" << QStringList{};
        QTest::newRow("finished with a failure and a skip")
            << QList<UpdateEvent>{queueStart(all),
                                  appStart("a"),
                                  appDone("a", false, false, "BREW_LOCKED"),
                                  appStart("b"),
                                  appDone("b", true),
                                  appStart("c"),
                                  appDone("c", false, true, "UPDATE_MODE_ASK_HEADLESS")}
            << QStringList{"a", "c", "b"} << "All done." << true
            << "1 app couldn't be updated and 1 skipped — see details above." << QStringList{};
        QTest::newRow("all done while still paused")
            << QList<UpdateEvent>{queueStart({"a"}), appStart("a"), UpdateEvent(UpdateEvent::QueuePaused{}),
                                  appDone("a", true)}
            << QStringList{"a"} << "All done." << true << "The library is in order." << QStringList{};
        QTest::newRow("waiting apps outside the run")
            << QList<UpdateEvent>{queueStart({"a"}),  appStart("a"),
                                  appDone("a", true), queueStart({"b"}),
                                  appStart("b"),      appDone("b", false, true, "UPDATE_MODE_ASK_HEADLESS"),
                                  queueStart({"c"})}
            << QStringList{"c", "b", "a"} << "Up next in the queue..." << false << "" << QStringList{};
    }
    void pictures()
    {
        QFETCH(QList<UpdateEvent>, events);
        QFETCH(QStringList, rows);
        QFETCH(QString, subtitle);
        QFETCH(bool, finished);
        QFETCH(QString, completion);
        QFETCH(QStringList, waiting);
        AppModel model(FakeModelServices().services());
        model.setApps({rec("a", "Alder", "cask", true), rec("b", "Birch", "mas", true),
                       rec("c", "Cedar", "sparkle", true), rec("d", "Dogwood", "cask", false)});
        UpdateFlowView sheet(&model);
        sheet.show();
        for (const UpdateEvent &event : events)
            model.handleUpdateEvent(event);
        QVERIFY(sheet.hasPendingRefresh() || events.isEmpty());
        QCoreApplication::processEvents();
        QVERIFY(!sheet.hasPendingRefresh());
        QCOMPARE(rowIds(sheet.rows()), rows);
        QCOMPARE(rowIds(sheet.waitingRows()), waiting);
        QCOMPARE(sheet.subtitle(), subtitle);
        QCOMPARE(sheet.allTerminal(), finished);
        QCOMPARE(sheet.completionText(), completion);
        QCOMPARE(sheet.doneButton()->isEnabled(), finished);
        QCOMPARE(sheet.doneButton()->text(), finished ? QStringLiteral("Done") : QStringLiteral("Working..."));
        QCOMPARE(sheet.escapeLine()->isVisibleTo(&sheet), !finished);
        QCOMPARE(sheet.mascot()->variant(), finished ? BruskVariant::curator : BruskVariant::craftsman);
        QCOMPARE(sheet.waitingHeading()->isVisibleTo(&sheet), !waiting.isEmpty());
        // Each row shows what the rules make of the model's state.
        for (UpdateRowView *row : sheet.rows()) {
            const auto incident = model.incidents().contains(row->app().bundle_id)
                ? std::optional<AppIncident>(model.incidents().value(row->app().bundle_id))
                : std::nullopt;
            QCOMPARE(row->content(),
                     UpdateRowView::contentFor(row->app(), model.updateState(row->app().bundle_id), incident));
            QCOMPARE(row->accessibleName(), row->app().app_name + QStringLiteral(", ") + row->content().primaryLine);
            QCOMPARE(bool(row->incidentButton()), row->content().showsIncidentAction);
        }
    }

    // An app held for approval and not in the run gets the waiting section,
    // with the approve remedy; one that is in the run shows once.
    void waitingSection()
    {
        AppModel model(FakeModelServices().services());
        AppRecord waiting = rec("w", "Willow", "cask", false);
        waiting.last_incident_code = QStringLiteral("UPDATE_MODE_ASK_HEADLESS");
        waiting.last_incident_kind = QStringLiteral("skipped");
        model.setApps({rec("a", "Alder", "cask", true), waiting});
        model.reconcileIncidents(model.apps(), model.incidentEventSeq());
        QCOMPARE(model.waitingForOKApps().size(), 1);
        UpdateFlowView sheet(&model);
        sheet.show();
        QCOMPARE(rowIds(sheet.rows()), QStringList{"a"});
        QCOMPARE(rowIds(sheet.waitingRows()), QStringList{"w"});
        QVERIFY(sheet.waitingHeading()->isVisibleTo(&sheet));
        UpdateRowView *row = sheet.waitingRows().constFirst();
        QCOMPARE(row->content().primaryLine,
                 RemediationRegistry::shared().cause(QStringLiteral("UPDATE_MODE_ASK_HEADLESS")));
        QVERIFY(row->incidentButton());
        QCOMPARE(row->incidentButton()->button()->text(), QStringLiteral("Approve"));

        // Once it takes part in a run it appears once, among the main rows.
        model.handleUpdateEvent(queueStart({"a", "w"}));
        sheet.refresh();
        QCOMPARE(rowIds(sheet.rows()), (QStringList{"a", "w"}));
        QVERIFY(sheet.waitingRows().isEmpty());
        QVERIFY(!sheet.waitingHeading()->isVisibleTo(&sheet));
    }

    // A failure whose remedy is none takes no room: the row's remedy button
    // stays hidden (no empty, unnamed button), and one with a remedy shows.
    void remedyButtonShowsOnlyWithARemedy()
    {
        AppModel model(FakeModelServices().services());
        model.setApps({rec("s", "Signet", "cask", true), rec("n", "Netherby", "cask", true)});
        UpdateFlowView sheet(&model);
        sheet.show();
        model.handleUpdateEvent(queueStart({"s", "n"}));
        model.handleUpdateEvent(appDone("s", false, false, "SIG_TEAM_MISMATCH"));
        model.handleUpdateEvent(appDone("n", false, false, "NETWORK_TIMEOUT"));
        sheet.refresh();
        QCOMPARE(rowIds(sheet.rows()), (QStringList{"s", "n"}));
        for (UpdateRowView *row : sheet.rows()) {
            IncidentActionButton *remedy = row->incidentButton();
            QVERIFY(remedy);
            const bool offered = row->app().bundle_id == QStringLiteral("n");
            QCOMPARE(remedy->spec().visible, offered);
            QCOMPARE(remedy->isVisibleTo(row), offered);
            if (offered)
                QVERIFY(!remedy->button()->accessibleName().isEmpty());
        }
    }

    // Rows are updated in place: a burst of events redraws once, and no row
    // is made again while the run goes on.
    void rowsUpdateInPlace()
    {
        AppModel model(FakeModelServices().services());
        const QStringList ids = setOutdatedApps(model, "org.bench.", 40);
        UpdateFlowView sheet(&model);
        sheet.show();
        model.handleUpdateEvent(queueStart(ids));
        sheet.refresh();
        const QList<UpdateRowView *> before = sheet.rows();
        const int refreshes = sheet.refreshCount();
        for (const QString &id : ids) {
            model.handleUpdateEvent(UpdateEvent(UpdateEvent::AppStart{id, 1, 40, "installing"}));
            UpdateEvent::AppDone done;
            done.bundleId = id;
            done.success = true;
            model.handleUpdateEvent(UpdateEvent(done));
        }
        QCoreApplication::processEvents();
        QCOMPARE(sheet.refreshCount(), refreshes + 1);
        QVERIFY(sheet.allTerminal());
        QList<UpdateRowView *> after = sheet.rows();
        QCOMPARE(after.size(), before.size());
        for (UpdateRowView *row : before)
            QVERIFY(after.contains(row));
        // The list scrolls beyond its height.
        QCOMPARE(sheet.list()->height(), UpdateFlowView::kMaximumListHeight);
    }

    // A run of thousands of apps costs the same per change whatever its
    // length: the sheet builds rows only near the visible part of the list
    // (and one for every remedy), a change of one app's state updates that
    // app's row alone, and tells no other app's remedy button anything.
    void largeRunTouchesOnlyWhatChanged()
    {
        AppModel model(FakeModelServices().services());
        const QStringList ids = setOutdatedApps(model, "org.large.", 2000);
        UpdateFlowView sheet(&model);
        sheet.show();
        model.handleUpdateEvent(queueStart(ids));
        QCoreApplication::processEvents();
        const auto rowWidgets = [&sheet] { return sheet.findChildren<UpdateRowView *>().size(); };
        QVERIFY2(rowWidgets() < 60, qPrintable(QString::number(rowWidgets())));

        // Every tenth of the first 300 fails and keeps a remedy button.
        for (int i = 0; i < 300; ++i) {
            const QByteArray id = ids.at(i).toLatin1();
            model.handleUpdateEvent(appStart(id.constData()));
            model.handleUpdateEvent(i % 10 == 9 ? appDone(id.constData(), false, false, "BREW_LOCKED")
                                                : appDone(id.constData(), true));
        }
        QCoreApplication::processEvents();
        QVERIFY2(rowWidgets() < 60 + 30, qPrintable(QString::number(rowWidgets())));
        QList<IncidentActionButton *> buttons = sheet.findChildren<IncidentActionButton *>();
        QCOMPARE(buttons.size(), 30);

        // One more app starts and ends: one row is updated each time, and the
        // remedy buttons of the others hear nothing of it.
        struct ButtonChanges : QObject {
            int count = 0;
            bool eventFilter(QObject *watched, QEvent *event) override
            {
                if (event->type() == QEvent::ToolTipChange && qobject_cast<IncidentActionButton *>(watched->parent()))
                    ++count;
                return false;
            }
        } changes;
        qApp->installEventFilter(&changes);
        const QByteArray next = ids.at(1500).toLatin1();
        model.handleUpdateEvent(appStart(next.constData()));
        sheet.refresh();
        QCOMPARE(sheet.rowsUpdatedByLastRefresh(), 1);
        model.handleUpdateEvent(appDone(next.constData(), true));
        sheet.refresh();
        QCOMPARE(sheet.rowsUpdatedByLastRefresh(), 1);
        qApp->removeEventFilter(&changes);
        QCOMPARE(changes.count, 0);
        // What the sheet shows follows the model all the same.
        QCOMPARE(sheet.rows().constFirst()->state().kind(), UpdateState::Kind::failed);
        QCOMPARE(sheet.subtitle(), QStringLiteral("Up next in the queue..."));
        QCOMPARE(sheet.rowCount(), 2000);
    }

    // Rows far from the visible part of the list are not placed, but every
    // remedy stays reachable: Tab goes on from remedy to remedy, and the row
    // that takes the focus is scrolled into view.
    void tabReachesEveryRemedy()
    {
        AppModel model(FakeModelServices().services());
        const QStringList ids = setOutdatedApps(model, "org.tab.", 150);
        UpdateFlowView sheet(&model);
        sheet.show();
        QApplication::setActiveWindow(&sheet);
        model.handleUpdateEvent(queueStart(ids));
        // One failure heads the list; the skipped apps that wait for an OK end it, far below.
        model.handleUpdateEvent(appStart("org.tab.0"));
        model.handleUpdateEvent(appDone("org.tab.0", false, false, "BREW_LOCKED"));
        QSet<QString> remedies{QStringLiteral("org.tab.0")};
        for (int i = 146; i < 150; ++i) {
            const QByteArray id = ids.at(i).toLatin1();
            model.handleUpdateEvent(appStart(id.constData()));
            model.handleUpdateEvent(appDone(id.constData(), false, true, "UPDATE_MODE_ASK_HEADLESS"));
            remedies.insert(ids.at(i));
        }
        sheet.refresh();
        QCOMPARE(sheet.findChildren<IncidentActionButton *>().size(), remedies.size());
        QCOMPARE(sheet.list()->verticalScrollBar()->value(), 0);

        UpdateRowView *first = sheet.rows().constFirst();
        QCOMPARE(first->app().bundle_id, QStringLiteral("org.tab.0"));
        first->incidentButton()->button()->setFocus(Qt::TabFocusReason);
        QSet<QString> reached;
        for (int press = 0; press < 20 && reached.size() < remedies.size(); ++press) {
            QWidget *focused = QApplication::focusWidget();
            QVERIFY(focused);
            UpdateRowView *row = nullptr;
            for (QWidget *w = focused; w && !row; w = w->parentWidget())
                row = qobject_cast<UpdateRowView *>(w);
            if (row) {
                reached.insert(row->app().bundle_id);
                // In view: within the list's visible part.
                const QRect shown(QPoint(0, sheet.list()->verticalScrollBar()->value()),
                                  sheet.list()->viewport()->size());
                QVERIFY2(shown.intersects(row->geometry()),
                         qPrintable(row->app().bundle_id + QStringLiteral(" is out of view")));
            }
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(reached, remedies);
        QVERIFY(sheet.list()->verticalScrollBar()->value() > 0);
    }

    // A live run against the engine stand-in: pause, resume, skip and stop
    // from the model's controller, the sheet following each.
    void liveRun()
    {
        ModelFixture fixture;
        QVERIFY(fixture.ready);
        VarnoTest::await(fixture.model->scan());
        AppModel *model = fixture.model.get();
        QVERIFY(fixture.sim({QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.3")}));
        model->clearUpdateProgress();
        auto sheet = std::make_unique<UpdateFlowView>(model);
        sheet->show();
        QCOMPARE(sheet->rows().size(), model->outdatedApps().size());
        QCOMPARE(sheet->subtitle(), QStringLiteral("Waiting to start..."));

        const auto consistent = [&] {
            sheet->refresh();
            for (UpdateRowView *row : sheet->rows()) {
                const auto incident = model->incidents().contains(row->app().bundle_id)
                    ? std::optional<AppIncident>(model->incidents().value(row->app().bundle_id))
                    : std::nullopt;
                if (!(row->content()
                      == UpdateRowView::contentFor(row->app(), model->updateState(row->app().bundle_id), incident)))
                    return false;
            }
            return true;
        };
        auto run = model->updateAll();
        QVERIFY(VarnoTest::waitUntil([&] { return model->updateController() != nullptr; }));
        QVERIFY(VarnoTest::waitUntil([&] {
            return !sheet->rows().isEmpty() && sheet->rows().constFirst()->state().kind() == UpdateState::Kind::running;
        }));
        QCOMPARE(sheet->subtitle(), QStringLiteral("Running your update queue..."));
        QVERIFY(consistent());

        model->updateController()->send(QStringLiteral("pause"));
        QVERIFY(VarnoTest::waitUntil([&] { return sheet->subtitle() == QStringLiteral("Queue paused."); }));
        QVERIFY(!sheet->doneButton()->isEnabled());
        model->updateController()->send(QStringLiteral("resume"));
        QVERIFY(VarnoTest::waitUntil([&] { return sheet->subtitle() != QStringLiteral("Queue paused."); }));

        QVERIFY(VarnoTest::waitUntil(
            [&] { return sheet->rows().constFirst()->state().kind() == UpdateState::Kind::running; }));
        const QString skipped = sheet->rows().constFirst()->app().bundle_id;
        model->updateController()->send(QStringLiteral("skip"));
        QVERIFY(VarnoTest::waitUntil([&] { return model->updateState(skipped).kind() == UpdateState::Kind::skipped; }));
        QVERIFY(consistent());

        model->updateController()->send(QStringLiteral("abort"));
        VarnoTest::await(std::move(run), 60s);
        QVERIFY(!model->isUpdating());
        QCoreApplication::processEvents();
        QVERIFY(consistent());
        // The subtitle and the button follow the model to the end.
        QCOMPARE(sheet->subtitle(),
                 UpdateFlowView::headerSubtitle(UpdateFlowView::activeApps(model->apps(), model->outdatedApps(),
                                                                           model->updateProgress()),
                                                model->updateProgress(), model->isPaused(), sheet->allTerminal()));
        QCOMPARE(sheet->doneButton()->isEnabled(), sheet->allTerminal());
    }

    // Stopped while its first app updates, a run ends with the picture of
    // what the engine did, read from the engine's own library: nothing of
    // the run updated, nothing failed, every app of it skipped.
    void stoppedRunShowsWhatTheEngineDid()
    {
        ModelFixture fixture;
        QVERIFY(fixture.ready);
        VarnoTest::await(fixture.model->scan());
        AppModel *model = fixture.model.get();
        const auto engineLibrary = [](bool outdatedOnly) {
            QStringList arguments{QStringLiteral("list"), QStringLiteral("--json")};
            if (!outdatedOnly)
                arguments.append(QStringLiteral("--all"));
            QHash<QString, AppRecord> records;
            for (const AppRecord &record :
                 AppRecord::decodeList(VarnoTest::runEngine(arguments).standardOutput).value_or(QList<AppRecord>()))
                records.insert(record.bundle_id, record);
            return records;
        };
        const QHash<QString, AppRecord> before = engineLibrary(false);
        const QStringList queued = engineLibrary(true).keys();
        QVERIFY(queued.size() >= 2);
        // Each step of an update takes 30 s: the first app the engine really
        // updates is still under way when the run is stopped.
        QVERIFY(fixture.setKnobs(R"({"rules":[{"command":"update","step_delay":30}]})"));
        model->clearUpdateProgress();
        UpdateFlowView sheet(model);
        sheet.show();
        auto run = model->updateAll();
        QVERIFY(VarnoTest::waitUntil([&] {
            return model->updateController()
                && std::any_of(model->updateProgress().cbegin(), model->updateProgress().cend(),
                               [](const UpdateState &s) { return s.kind() == UpdateState::Kind::running; });
        }));
        model->updateController()->send(QStringLiteral("abort"));
        VarnoTest::await(std::move(run), 60s);
        QCoreApplication::processEvents();

        // What the engine did: every app it queued is still outdated, and
        // none has a failure of this run on record.
        const QHash<QString, AppRecord> after = engineLibrary(false);
        const QStringList stillOutdated = engineLibrary(true).keys();
        for (const QString &id : queued) {
            QVERIFY2(stillOutdated.contains(id), qPrintable(id + QStringLiteral(" was updated")));
            const AppRecord &now = after.value(id);
            const bool failedNow = now.last_incident_kind == QStringLiteral("failed")
                && now.last_incident_at != before.value(id).last_incident_at;
            QVERIFY2(!failedNow, qPrintable(id + QStringLiteral(" failed")));
        }
        // The sheet shows exactly that: one row an app, each skipped, seen
        // from the top of the list and from its end (only the rows near the
        // view are laid out).
        QCOMPARE(sheet.rowCount(), int(queued.size()));
        QSet<QString> shown;
        const auto collect = [&] {
            for (const UpdateRowView *row : sheet.rows()) {
                shown.insert(row->app().bundle_id);
                QCOMPARE(row->state().kind(), UpdateState::Kind::skipped);
            }
        };
        collect();
        QScrollBar *scroll = sheet.list()->verticalScrollBar();
        scroll->setValue(scroll->maximum());
        QCoreApplication::processEvents();
        collect();
        QStringList rows(shown.cbegin(), shown.cend());
        rows.sort();
        QStringList expected = queued;
        expected.sort();
        QCOMPARE(rows, expected);
        QCOMPARE(sheet.subtitle(), QStringLiteral("All done."));
        QCOMPARE(sheet.completionText(), QStringLiteral("%1 apps skipped.").arg(queued.size()));
        QVERIFY(sheet.doneButton()->isEnabled());
    }

    // Closing (close button, Esc) only dismisses: the run goes on to its end.
    void closingLeavesTheRunGoing()
    {
        ModelFixture fixture;
        QVERIFY(fixture.ready);
        VarnoTest::await(fixture.model->scan());
        AppModel *model = fixture.model.get();
        QVERIFY(fixture.sim({QStringLiteral("knobs"), QStringLiteral("speed"), QStringLiteral("0.2")}));
        QPointer<UpdateFlowView> sheet = new UpdateFlowView(model);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->show();
        QCOMPARE(sheet->closeButton()->accessibleName(), QStringLiteral("Close update sheet"));
        QCOMPARE(sheet->closeButton()->toolTip(), QStringLiteral("Close — the queue keeps running in the background"));
        auto run = model->updateAll();
        QVERIFY(VarnoTest::waitUntil([&] { return model->updateController() != nullptr; }));
        QTest::keyClick(sheet.data(), Qt::Key_Escape);
        QVERIFY(VarnoTest::waitUntil([&] { return sheet.isNull(); }));
        QVERIFY(model->isUpdating());
        VarnoTest::await(std::move(run), 120s);
        QVERIFY(!model->isPaused());
        QVERIFY(UpdateFlowView::isTerminal(model->outdatedApps(), model->updateProgress()));
        QCOMPARE(model->updateState(QStringLiteral("org.sim.saltmarsh")), UpdateState::done());

        // Opened again, it shows the last run as it ended.
        UpdateFlowView again(model);
        again.show();
        QVERIFY(again.allTerminal());
        QCOMPARE(again.subtitle(), QStringLiteral("All done."));
        QVERIFY(!again.completionText().isEmpty());
        QTest::mouseClick(again.closeButton(), Qt::LeftButton);
        QVERIFY(!again.isVisible());
    }
};

VARNO_TEST_CLASS(TestRemediationSheets)
VARNO_TEST_CLASS(TestUpdateFlowSheet)
#include "tst_sheetviews.moc"
