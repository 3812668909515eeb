// The Workshop window on a large library: how long it takes to show its first
// frame with 1,000 apps against the same window on an empty library, and how
// long the shelf takes to follow one keystroke in the search field.
//
//   varno_workshop_benchmark [apps]     (default 1000)
//
// Runs offscreen in a temporary HOME; prints its figures and the number of
// card widgets the shelf built.

#include "kit/FontRegistry.h"
#include "model/AppModel.h"
#include "platform/MainBundle.h"
#include "workshop/ShelfCardGrid.h"
#include "workshop/ShelfView.h"
#include "workshop/WorkshopWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

struct Sample {
    double wall = 0;
    double cpu = 0; // the GUI thread's own time
};

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

Sample median(std::vector<Sample> samples)
{
    if (samples.empty())
        return {};
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Sample &s : samples) {
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return Sample{wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

AppModelServices quietServices()
{
    AppModelServices s;
    s.detectOpenCore = [](double) { return false; };
    s.checkBrew = [](double) { return MechanismHealth::healthy(); };
    s.checkMas = [](double) { return MechanismHealth::healthy(); };
    s.checkSoftwareUpdate = [](double) -> QCoro::Task<MacOSUpdateStatus> { co_return MacOSUpdateStatus::upToDate(); };
    s.notifyUpdates = [](int, const QStringList &) {};
    s.revealFile = [](const QString &) {};
    return s;
}

QList<AppRecord> library(int count)
{
    const QStringList mechanisms{QStringLiteral("cask"), QStringLiteral("mas"), QStringLiteral("sparkle"),
                                 QStringLiteral("vendor_self_update")};
    QList<AppRecord> apps;
    apps.reserve(count);
    for (int i = 0; i < count; ++i) {
        QJsonObject app;
        app.insert(QStringLiteral("bundle_id"), QStringLiteral("org.bench.app%1").arg(i));
        app.insert(QStringLiteral("app_name"), QStringLiteral("Benchmark Application %1").arg(i));
        app.insert(QStringLiteral("current_version"), QStringLiteral("%1.%2").arg(i % 7).arg(i % 13));
        app.insert(QStringLiteral("latest_version"), QStringLiteral("%1.%2").arg(i % 7).arg(i % 11));
        app.insert(QStringLiteral("update_mechanism"), mechanisms.at(i % mechanisms.size()));
        app.insert(QStringLiteral("last_sha256"), QStringLiteral("9f86d081884c7d65"));
        app.insert(QStringLiteral("last_team_id"), QStringLiteral("TEAM%1").arg(i % 97));
        app.insert(QStringLiteral("risk_tier"), i % 31 == 0 ? QStringLiteral("High") : QStringLiteral("low"));
        if (const auto record = AppRecord::fromJson(app))
            apps.append(*record);
    }
    return apps;
}

// Spins the event loop until the window's content has painted once.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget *watched)
        : m_watched(watched)
    {
        qApp->installEventFilter(this);
    }
    ~FirstPaint() override { qApp->removeEventFilter(this); }
    bool painted() const { return m_painted; }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && object->isWidgetType()
            && (object == m_watched || m_watched->isAncestorOf(static_cast<QWidget *>(object))))
            m_painted = true;
        return false;
    }

private:
    QWidget *m_watched;
    bool m_painted = false;
};

Sample openWindow(const QList<AppRecord> &apps, int *cardsBuilt, int *heightsMeasured = nullptr)
{
    AppModel model(quietServices());
    model.setShowOnboarding(false);
    model.setHasEverScanned(true);
    model.setApps(apps);
    QElapsedTimer wall;
    const double cpu = threadSeconds();
    wall.start();
    WorkshopWindow window(&model);
    window.resize(1100, 720);
    FirstPaint paint(&window);
    window.show();
    while (!paint.painted())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // Whatever the first frame posted (deferred layouts) is part of it.
    QCoreApplication::processEvents();
    Sample sample{wall.nsecsElapsed() / 1e9, threadSeconds() - cpu};
    if (cardsBuilt)
        *cardsBuilt = window.shelf()->grid()->builtCardCount();
    if (heightsMeasured)
        *heightsMeasured = window.shelf()->grid()->heightsMeasured();
    return sample;
}

void firstPaint(int count)
{
    const QList<AppRecord> apps = library(count);
    std::vector<Sample> large;
    std::vector<Sample> empty;
    int cards = 0;
    int heights = 0;
    openWindow(apps, nullptr); // warm-up: fonts, artwork, symbols
    openWindow({}, nullptr);
    for (int round = 0; round < 9; ++round) {
        large.push_back(openWindow(apps, &cards, &heights));
        empty.push_back(openWindow({}, nullptr));
    }
    const Sample a = median(large);
    const Sample b = median(empty);
    std::printf("-- first paint of the Workshop window (median of 9)\n");
    std::printf("   %-34s %9.2f ms wall %9.2f ms GUI thread\n", qPrintable(QStringLiteral("%1 apps").arg(count)),
                a.wall * 1e3, a.cpu * 1e3);
    std::printf("   %-34s %9.2f ms wall %9.2f ms GUI thread\n", "empty library", b.wall * 1e3, b.cpu * 1e3);
    std::printf("   ratio %.2f (wall) %.2f (GUI thread), target <= 2; card widgets built: %d of %d;"
                " card heights worked out: %d\n",
                b.wall > 0 ? a.wall / b.wall : 0.0, b.cpu > 0 ? a.cpu / b.cpu : 0.0, cards, count, heights);
}

void keystroke(int count)
{
    AppModel model(quietServices());
    model.setShowOnboarding(false);
    model.setHasEverScanned(true);
    model.setApps(library(count));
    WorkshopWindow window(&model);
    window.resize(1100, 720);
    window.show();
    QCoreApplication::processEvents();
    const QString query = QStringLiteral("application 99");
    std::vector<Sample> typing;
    std::vector<Sample> clearing;
    for (int round = 0; round < 5; ++round) {
        for (int length = 1; length <= query.size(); ++length) {
            QElapsedTimer wall;
            const double cpu = threadSeconds();
            wall.start();
            // One keystroke: the shelf filters, lays out and paints.
            window.searchField()->setText(query.left(length));
            QCoreApplication::processEvents();
            typing.push_back(Sample{wall.nsecsElapsed() / 1e9, threadSeconds() - cpu});
        }
        QElapsedTimer wall;
        const double cpu = threadSeconds();
        wall.start();
        window.searchField()->clear();
        QCoreApplication::processEvents();
        clearing.push_back(Sample{wall.nsecsElapsed() / 1e9, threadSeconds() - cpu});
    }
    const Sample t = median(typing);
    const Sample c = median(clearing);
    std::printf("-- search keystroke at %d apps (median, filter + layout + paint)\n", count);
    std::printf("   %-34s %9.2f ms wall %9.2f ms GUI thread   target <= 16 ms\n", "typing a letter", t.wall * 1e3,
                t.cpu * 1e3);
    std::printf("   %-34s %9.2f ms wall %9.2f ms GUI thread   (back to every app)\n", "clearing the field",
                c.wall * 1e3, c.cpu * 1e3);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("VARNO_SETTINGS_FILE", QFile::encodeName(home.filePath(QStringLiteral("settings.ini"))));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The staged bundle's fonts, symbols and artwork, as the app has them.
    MainBundle::setPathOverride(QStringLiteral(VARNO_BUNDLE_DIR));
    FontRegistry::registerBundledFonts();
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 1000;
    firstPaint(count);
    keystroke(count);
    return 0;
}
