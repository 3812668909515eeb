// The fault matrix: every path by which the app runs the engine (the runner,
// the command operations, the update stream, the bootstrap, the model's load
// and update) against one fake engine per fault, in one table. Each case
// checks what the app promises whatever the engine does:
//   (a) the user is shown one clear, bounded sentence (or nothing, when the
//       fault does not make the call fail) - the text the model holds for
//       the views, where every caller puts an engine failure;
//   (b) the GUI thread is never busy for long at a stretch;
//   (c) nothing is lost: settings, the update log's history, the engine's
//       journal, the ghost list and the bootstrap log survive;
//   (d) no process of the run is left, the engine's grandchildren included.
#include "BusyMeter.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "EngineFixture.h"
#include "ModelFixture.h"

#include "engine/CLIBootstrap.h"
#include "engine/UpdateLogWriter.h"
#include "engine/UpdateStream.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "model/EngineFailure.h"
#include "platform/PlainText.h"
#include "platform/UserDefaults.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>

using namespace std::chrono_literals;

namespace {

// (b) The longest the GUI thread may be busy at a stretch. The sanitizer
// build runs the same code several times slower (every memory access is
// checked), so there the bound is scaled by four; the plain build keeps the
// 100 ms that a person notices as a stutter.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNO_FAULTMATRIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VARNO_FAULTMATRIX_SANITIZED 1
#endif
#endif
#ifdef VARNO_FAULTMATRIX_SANITIZED
constexpr qint64 busyBoundMs = 400;
#else
constexpr qint64 busyBoundMs = 100;
#endif

// The clocks of the runs: a fake that hangs is ended after a second (with a
// grace of a few hundred milliseconds); fakes that answer get a minute.
constexpr double hangingTimeout = 1.0;
constexpr double answeringTimeout = 60.0;
constexpr int killGraceMs = 300;

const QString fakeId = QStringLiteral("org.fake.kettle");
const QString splitName = QStringLiteral("Caf\u00e9 Cr\u00e8me");

enum class Target { runner, seal, fix, stream, bootstrap, load, update };

const QList<std::pair<Target, QString>> targets = {
    {Target::runner, QStringLiteral("runner")},
    {Target::seal, QStringLiteral("seal")},
    {Target::fix, QStringLiteral("fix")},
    {Target::stream, QStringLiteral("stream")},
    {Target::bootstrap, QStringLiteral("bootstrap")},
    {Target::load, QStringLiteral("load")},
    {Target::update, QStringLiteral("update")},
};

// The faults of the fake engine (fault_engine.py) and of the engine files.
const QStringList faults = {
    QStringLiteral("hang"),
    QStringLiteral("ignores_term"),
    QStringLiteral("grandchild"),
    QStringLiteral("crash"),
    QStringLiteral("exit1"),
    QStringLiteral("exit1_json"),
    QStringLiteral("exit9"),
    QStringLiteral("exit9_json"),
    QStringLiteral("exit15"),
    QStringLiteral("exit15_json"),
    QStringLiteral("exit75"),
    QStringLiteral("exit75_json"),
    QStringLiteral("stdout_12mib"),
    QStringLiteral("stderr_11mib"),
    QStringLiteral("endless"),
    QStringLiteral("malformed"),
    QStringLiteral("wrong_types"),
    QStringLiteral("nulls"),
    QStringLiteral("missing"),
    QStringLiteral("split_char"),
    QStringLiteral("split_char_error"),
    QStringLiteral("invalid_utf8"),
    QStringLiteral("event_5mib"),
    QStringLiteral("silence"),
    QStringLiteral("tampered_engine"),
    QStringLiteral("missing_engine_file"),
    QStringLiteral("tampered_manifest"),
    QStringLiteral("missing_manifest"),
    QStringLiteral("no_engine"),
};

bool isFileFault(const QString &fault)
{
    return fault == QLatin1String("tampered_engine") || fault == QLatin1String("missing_engine_file")
        || fault == QLatin1String("tampered_manifest") || fault == QLatin1String("missing_manifest");
}

// The faults after which the engine never ends by itself.
bool hangs(const QString &fault)
{
    return fault == QLatin1String("hang") || fault == QLatin1String("ignores_term") || fault == QLatin1String("endless")
        || fault == QLatin1String("silence");
}

bool streams(Target target)
{
    return target == Target::stream || target == Target::update;
}

// What the case must end in: nothing shown (the call succeeds) or a sentence
// with this fragment.
struct Expected {
    std::optional<QString> shown;  // fragment of the sentence; nothing = success
    std::optional<QString> result; // fragment of what a successful call returned
};

Expected expectationFor(Target target, const QString &fault)
{
    const auto shows = [](const char *fragment) { return Expected{QString::fromUtf8(fragment), std::nullopt}; };
    const auto succeeds = [](std::optional<QString> result = std::nullopt) { return Expected{std::nullopt, result}; };
    const bool decodes = target == Target::seal || target == Target::load || target == Target::update;
    const auto setupExit = [](int code) { return Expected{QStringLiteral("(setup exit %1)").arg(code), std::nullopt}; };

    if (isFileFault(fault))
        return shows("failed an integrity check");
    if (fault == QLatin1String("no_engine"))
        return target == Target::bootstrap ? shows("No bundled CLI") : shows("varno.py not found");
    if (fault == QLatin1String("hang") || fault == QLatin1String("ignores_term") || fault == QLatin1String("endless")
        || fault == QLatin1String("silence")) {
        if (target == Target::bootstrap)
            return shows("(setup exit");
        return streams(target) ? shows("Update queue timed out") : shows("timed out or was cancelled");
    }
    if (fault == QLatin1String("grandchild")) {
        if (target == Target::bootstrap || target == Target::runner)
            return succeeds();
        return succeeds(QStringLiteral("Kettle"));
    }
    if (fault == QLatin1String("crash"))
        return shows("exit 11");
    if (fault.startsWith(QLatin1String("exit"))) {
        const int code = fault.mid(4).section(QLatin1Char('_'), 0, 0).toInt();
        const bool json = fault.endsWith(QLatin1String("_json"));
        if (target == Target::bootstrap)
            return setupExit(code);
        if (code == 75 && target == Target::update)
            return shows("already running an update");
        if (code == 9)
            return shows("force-stopped");
        if (json)
            return shows("database is locked by another process");
        if (code == 15)
            return shows("timed out or was cancelled");
        return Expected{QStringLiteral("(exit %1)").arg(code), std::nullopt};
    }
    if (fault == QLatin1String("stdout_12mib"))
        return decodes ? shows("Unexpected output from varno.py") : succeeds();
    if (fault == QLatin1String("stderr_11mib"))
        return target == Target::bootstrap ? setupExit(2) : shows("Something went wrong running VARNO");
    if (fault == QLatin1String("malformed") || fault == QLatin1String("wrong_types") || fault == QLatin1String("nulls")
        || fault == QLatin1String("missing") || fault == QLatin1String("invalid_utf8"))
        return decodes ? shows("Unexpected output from varno.py") : succeeds();
    if (fault == QLatin1String("split_char"))
        return target == Target::bootstrap ? succeeds() : succeeds(splitName);
    if (fault == QLatin1String("split_char_error"))
        return target == Target::bootstrap ? setupExit(1) : shows("\u00c9chec : la base est verrouill\u00e9e.");
    if (fault == QLatin1String("event_5mib"))
        return succeeds();
    qFatal("no expectation for %s", qPrintable(fault));
}

// --- (b) How long the GUI thread is busy at a stretch ---------------------
// (VarnoTest::BusyMeter: thread CPU time between the ticks of a 5 ms timer.)

using VarnoTest::BusyMeter;

// --- (c) What must not be lost --------------------------------------------

const QByteArray seededHistory = "[2026-01-02 03:04:05] org.sim.kettle: updated to 2.0 (an earlier run)\n";
const QByteArray seededJournal = "2026-01-02T03:04:05Z\t0\t0.125\t[\"--engine-contract-version\", \"1\", \"scan\"]\n";
const QByteArray seededGhosts = R"([{"bundle_id": "org.sim.ghost", "app_name": "Ghost", )"
                                R"("install_path": "/Applications/Ghost.app", "cask_token": "ghost"}])";
const QByteArray seededBootstrapLog = "[2026-01-02T03:04:05Z] an earlier failure\n\n";

QString journalPath()
{
    return VarnoPaths::appSupportDir() + QStringLiteral("/sim/journal.log");
}

QString ghostsPath()
{
    return VarnoPaths::appSupportDir() + QStringLiteral("/ghosts.json");
}

QString bootstrapLogPath()
{
    return VarnoPaths::logsDir() + QStringLiteral("/bootstrap.err");
}

void plantSeeds()
{
    auto defaults = UserDefaults::open();
    defaults->setValue(AppModel::detailsModeKey, true);
    defaults->setValue(AppModel::onboardingDoneKey, true);
    defaults->setValue(AppModel::hasEverScannedKey, true);
    defaults->setValue(QStringLiteral("faultmatrix_marker"), QStringLiteral("kept"));
    defaults->sync();
    VarnoTest::writeFile(UpdateLogWriter::defaultPath(), seededHistory);
    VarnoTest::writeFile(journalPath(), seededJournal);
    VarnoTest::writeFile(ghostsPath(), seededGhosts);
    VarnoTest::writeFile(bootstrapLogPath(), seededBootstrapLog);
}

// Empty when everything planted is still there, else what was lost.
QStringList lostSeeds()
{
    QStringList lost;
    auto defaults = UserDefaults::open();
    defaults->sync();
    if (defaults->value(AppModel::detailsModeKey).toBool() != true
        || defaults->value(AppModel::onboardingDoneKey).toBool() != true
        || defaults->value(AppModel::hasEverScannedKey).toBool() != true
        || defaults->value(QStringLiteral("faultmatrix_marker")).toString() != QLatin1String("kept"))
        lost << QStringLiteral("settings");
    // The history may have moved to the previous log, never out of both.
    const QString log = UpdateLogWriter::defaultPath();
    if (!VarnoTest::readFile(log).contains(seededHistory)
        && !VarnoTest::readFile(log + QStringLiteral(".prev")).contains(seededHistory))
        lost << QStringLiteral("update log history");
    if (VarnoTest::readFile(journalPath()) != seededJournal)
        lost << QStringLiteral("journal");
    if (VarnoTest::readFile(ghostsPath()) != seededGhosts)
        lost << QStringLiteral("ghosts");
    // An entry that would pass the log's size moves what it held to .prev.
    const QByteArray bootstrapHistory = VarnoTest::readFile(bootstrapLogPath() + QStringLiteral(".prev"))
        + VarnoTest::readFile(bootstrapLogPath());
    if (!bootstrapHistory.startsWith(seededBootstrapLog))
        lost << QStringLiteral("bootstrap log");
    return lost;
}

// --- (d) Processes of the run ----------------------------------------------

// Processes (not zombies) whose command line holds the marker: the fake
// engine's script path and its grandchild's argument are under the case's
// own home folder.
QList<qint64> processesMarked(const QByteArray &marker)
{
    QList<qint64> found;
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        if (cmdline.readAll().contains(marker) && VarnoTest::processIsAlive(pid))
            found.append(pid);
    }
    return found;
}

// Waits a little for processes just killed to be gone; returns what is
// still alive afterwards.
QList<qint64> leftProcesses(const QString &home)
{
    const QList<qint64> noted = VarnoTest::readPids(home + QStringLiteral("/pids"));
    const QByteArray marker = QFile::encodeName(home);
    QList<qint64> alive;
    VarnoTest::waitUntil(
        [&] {
            alive.clear();
            for (const qint64 pid : noted) {
                if (VarnoTest::processIsAlive(pid))
                    alive.append(pid);
            }
            for (const qint64 pid : processesMarked(marker)) {
                if (!alive.contains(pid))
                    alive.append(pid);
            }
            return alive.isEmpty();
        },
        5s);
    return alive;
}

// --- The fake engine -------------------------------------------------------

QByteArray faultEngine(const QString &fault)
{
    const QByteArray source = VarnoTest::readFile(
        VarnoTest::sourcePath(QStringLiteral("dashboard/Tests/faultmatrix/fault_engine.py")));
    if (!source.contains("@FAULT@"))
        qFatal("fault_engine.py not found beside the test");
    QByteArray engine = source;
    return engine.replace("@FAULT@", fault.toUtf8());
}

// The app's bundle for the bootstrap: its engine is the fake, its manifest
// made over it, and then damaged as the fault says.
void prepareBundle(EngineFixture::FakeBundle &bundle, const QString &fault)
{
    if (fault == QLatin1String("no_engine")) {
        QDir(bundle.cli()).removeRecursively(); // Resources without an engine
        return;
    }
    bundle.writeEngineFile(QStringLiteral("varno.py"), faultEngine(isFileFault(fault) ? QStringLiteral("none") : fault));
    bundle.writeEngineFile(QStringLiteral(".cli_version"), "1.0.0\n");
    bundle.writeEngineFile(QStringLiteral("engine/helpers.py"), "VALUE = 1\n");
    bundle.writeManifest();
    const QString manifest = bundle.resources() + QStringLiteral("/cli-manifest.json");
    if (fault == QLatin1String("tampered_engine"))
        bundle.writeEngineFile(QStringLiteral("varno.py"), faultEngine(QStringLiteral("none")) + "\n# changed\n");
    else if (fault == QLatin1String("missing_engine_file"))
        QFile::remove(bundle.cli() + QStringLiteral("/engine/helpers.py"));
    else if (fault == QLatin1String("tampered_manifest"))
        VarnoTest::writeFile(manifest, VarnoTest::readFile(manifest).replace("\"files\"", "\"filez\""));
    else if (fault == QLatin1String("missing_manifest"))
        QFile::remove(manifest);
}

// Sets the clocks of every run for the object's lifetime.
class Clocks {
public:
    explicit Clocks(double timeout)
        : m_stream(timeout, 50, killGraceMs)
        , m_process(VARNOProcess::tuning())
        , m_bootstrap(CLIBootstrap::timing())
    {
        VARNOProcess::Tuning process = m_process;
        process.killGraceMs = killGraceMs;
        process.commandTimeout = timeout;
        VARNOProcess::setTuning(process);
        CLIBootstrap::Timing bootstrap = m_bootstrap;
        bootstrap.setupTimeout = timeout;
        bootstrap.killGraceMs = killGraceMs;
        CLIBootstrap::setTiming(bootstrap);
    }
    ~Clocks()
    {
        VARNOProcess::setTuning(m_process);
        CLIBootstrap::setTiming(m_bootstrap);
    }

private:
    EngineFixture::StreamTuning m_stream;
    VARNOProcess::Tuning m_process;
    CLIBootstrap::Timing m_bootstrap;
};

// Keeps the app's log lines out of the test output (a fault writes megabytes
// of them) while counting what reached the log.
struct LogSink {
    static inline qint64 characters = 0;
    static inline QtMessageHandler previous = nullptr;

    LogSink()
    {
        characters = 0;
        previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { characters += message.size(); });
    }
    ~LogSink() { qInstallMessageHandler(previous); }
};

// --- The operations --------------------------------------------------------

// Argument lists are made outside the coroutines (g++ 12 mishandles braced
// lists inside coroutine bodies).
QStringList scanArguments()
{
    return {QStringLiteral("scan")};
}

QCoro::Task<QString> runTarget(Target target, AppModel &model, double timeout)
{
    switch (target) {
    case Target::runner: {
        const QByteArray output = co_await VARNOProcess::run(scanArguments(), timeout);
        co_return QString::fromUtf8(output.left(200));
    }
    case Target::seal: {
        const TrustSealRecord seal = co_await VARNOProcess::trustSeal(fakeId);
        co_return seal.bundle_id.value_or(QString()).left(200);
    }
    case Target::fix: {
        const QString text = co_await VARNOProcess::fix(fakeId);
        co_return text.left(200);
    }
    case Target::stream: {
        auto names = std::make_shared<QStringList>();
        const UpdateStream::EventHandler onEvent = [names](const UpdateEvent &event) {
            if (const auto *start = event.as<UpdateEvent::QueueStart>()) {
                for (const auto &app : start->apps)
                    names->append(app.appName.left(200));
            }
        };
        const QStringList everything;
        const UpdateStream::ControllerHandler noController;
        co_await UpdateStream::streamUpdate(everything, noController, onEvent);
        co_return names->join(QLatin1Char(' '));
    }
    case Target::bootstrap:
        co_await CLIBootstrap::bootstrap();
        co_return QString();
    case Target::load:
    case Target::update: {
        if (target == Target::load)
            co_await model.load();
        else
            co_await model.updateAll();
        QStringList names;
        for (const AppRecord &app : model.apps())
            names.append(app.app_name.left(200));
        co_return names.join(QLatin1Char(' '));
    }
    }
    co_return QString();
}

// What the case did.
struct Run {
    QString result;
    QStringList shown; // every sentence put before the user, in order
    BusyMeter meter;
};

// The model's actions catch their failures and show them; the other
// targets hand theirs to the model the way their callers do.
QCoro::Task<void> runCase(Target target, AppModel &model, double timeout, Run &run)
{
    try {
        run.result = co_await runTarget(target, model, timeout);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        if (target == Target::bootstrap) {
            CLIBootstrap::logBootstrapFailure(error);
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                model.setError(CLIBootstrap::failureMessage(e));
            }
        } else {
            model.setError(EngineFailure::from(error).description);
        }
    }
}

// Whether the sentence is one clear, bounded text: not empty, starting with
// a word, within the display limits, and free of control characters. (Bytes
// of the engine's that are not UTF-8 are shown as replacement characters, on
// purpose: the sentence still says what came.)
QString unclearBecause(const QString &sentence)
{
    if (sentence.trimmed().isEmpty())
        return QStringLiteral("empty");
    if (!sentence.at(0).isLetter())
        return QStringLiteral("does not start with a word");
    if (sentence.size() > PlainText::displayCharacters * 2 + 1)
        return QStringLiteral("longer than the display limit");
    if (sentence.count(QLatin1Char('\n')) >= PlainText::displayLines)
        return QStringLiteral("more lines than the display limit");
    for (const QChar c : sentence) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n'))
            return QStringLiteral("holds a control character");
    }
    return QString();
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(VARNOProcess::python3()), "the fakes need python3");
        VARNOProcess::resetCachedValuesForTesting();
    }

    void matrix_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("fault");
        for (const auto &[target, name] : targets) {
            for (const QString &fault : faults)
                QTest::newRow(qPrintable(name + QLatin1Char('/') + fault)) << int(target) << fault;
        }
    }

    void matrix()
    {
        QFETCH(int, target);
        QFETCH(QString, fault);
        const auto which = Target(target);
        const Expected expected = expectationFor(which, fault);

        VarnoTest::TempHome home;
        QVERIFY(home.isValid());
        VARNOProcess::resetCachedValuesForTesting();
        const double timeout = hangs(fault) ? hangingTimeout : answeringTimeout;
        Clocks clocks(timeout);
        LogSink sink;
        plantSeeds();

        std::optional<EngineFixture::FakeBundle> bundle;
        if (which == Target::bootstrap || isFileFault(fault)) {
            bundle.emplace();
            prepareBundle(*bundle, fault);
        }
        if (fault != QLatin1String("no_engine") && which != Target::bootstrap)
            EngineFixture::writeFakeEngine(faultEngine(isFileFault(fault) ? QStringLiteral("none") : fault));

        FakeModelServices fakes;
        AppModel model(fakes.services());
        // A damaged bundle fails the bootstrap first; what the operation
        // shows afterwards is counted.
        if (isFileFault(fault) && which != Target::bootstrap) {
            bool failed = false;
            try {
                VarnoTest::await(CLIBootstrap::bootstrap(), 60s);
            } catch (const CLIBootstrapError &) {
                failed = true;
            }
            QVERIFY2(failed, "the damaged bundle must fail the bootstrap");
        }

        Run run;
        QObject::connect(&model, &AppModel::errorChanged, &model, [&run, &model] {
            if (model.error())
                run.shown.append(*model.error());
        });
        run.meter.start();
        try {
            VarnoTest::await(runCase(which, model, timeout, run), 120s);
        } catch (const VarnoTest::AwaitTimeout &) {
            run.meter.stop();
            QFAIL("the operation did not end");
        }
        run.meter.stop();
        // Let what a load starts in the background (seals, probes) end.
        VarnoTest::waitUntil([&model] {
            return !model.isEnrichingSeals() && !model.isCheckingOpenCore() && !model.isCheckingMacOSUpdate()
                && !model.isCheckingMechanismHealth() && !model.isReadingScanHistory();
        });
        // The figures of the case, for a person reading the log (the app's
        // own log lines are held back by the sink).
        std::printf("%s: GUI thread busy at most %lld ms (longest gap %lld ms); shown: %s\n", QTest::currentDataTag(),
                    static_cast<long long>(run.meter.longestBusyMs()), static_cast<long long>(run.meter.longestGapMs()),
                    qUtf8Printable(run.shown.isEmpty() ? QStringLiteral("nothing") : run.shown.first().left(100)));
        std::fflush(stdout);

        // (a) One clear, bounded sentence, or none when the call succeeds.
        if (expected.shown) {
            QCOMPARE(run.shown.size(), 1);
            const QString sentence = run.shown.first();
            const QString why = unclearBecause(sentence);
            QVERIFY2(why.isEmpty(), qPrintable(why + QStringLiteral(": ") + sentence.left(300)));
            QVERIFY2(sentence == PlainText::forDisplay(sentence), qPrintable(sentence.left(300)));
            QVERIFY2(sentence.contains(*expected.shown),
                     qPrintable(QStringLiteral("\"%1\" not in \"%2\"").arg(*expected.shown, sentence.left(300))));
        } else {
            QVERIFY2(run.shown.isEmpty(), qPrintable(run.shown.value(0).left(300)));
            if (expected.result)
                QVERIFY2(run.result.contains(*expected.result),
                         qPrintable(QStringLiteral("\"%1\" not in \"%2\"").arg(*expected.result, run.result)));
        }

        // (b) The GUI thread stayed responsive.
        QVERIFY2(run.meter.longestBusyMs() <= busyBoundMs,
                 qPrintable(QStringLiteral("the GUI thread was busy %1 ms at a stretch (bound %2 ms)")
                                .arg(run.meter.longestBusyMs())
                                .arg(busyBoundMs)));

        // (c) Nothing lost.
        const QStringList lost = lostSeeds();
        QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("lost: ") + lost.join(QStringLiteral(", "))));

        // (d) Nothing of the run left.
        const QList<qint64> left = leftProcesses(home.path());
        QVERIFY2(left.isEmpty(), qPrintable(QStringLiteral("%1 process(es) of the run left").arg(left.size())));
    }
};

VARNO_TEST_CLASS(TestFaultMatrix)

#include "tst_faultmatrix.moc"
