#include "workshop/ShelfRules.h"

#include <algorithm>

namespace ShelfRules {

ShelfState state(const Inputs &in)
{
    if (in.isScanning && in.appsEmpty)
        return ShelfState::placeholders;
    if (in.appsEmpty) {
        if (in.hasError)
            return ShelfState::error;
        if (in.hasEverScanned)
            return in.hasLastScanDate ? ShelfState::loadFailed : ShelfState::tidy;
        return ShelfState::firstRun;
    }
    if (in.filteredEmpty && !in.isScanning)
        return in.filter == AppFilter::all ? ShelfState::tidy : ShelfState::filterEmpty;
    return in.detailsMode ? ShelfState::detailsList : ShelfState::cardGrid;
}

QString emptyTitle(AppFilter filter)
{
    switch (filter) {
    case AppFilter::all:
        break;
    case AppFilter::outdated:
        return QStringLiteral("Nothing pending here.");
    case AppFilter::atRisk:
        return QStringLiteral("No urgent app security updates right now.");
    case AppFilter::verified:
        return QStringLiteral("No verified apps yet.");
    case AppFilter::unmeasured:
        return QStringLiteral("Everything Brusk can sense has a version check.");
    case AppFilter::brew:
        return QStringLiteral("No Homebrew apps found.");
    case AppFilter::mas:
        return QStringLiteral("No App Store apps found.");
    case AppFilter::sparkle:
        return QStringLiteral("No Sparkle apps found.");
    case AppFilter::selfManaged:
        return QStringLiteral("No self-managed apps found.");
    }
    return QString();
}

QString emptySubtitle(AppFilter filter)
{
    switch (filter) {
    case AppFilter::all:
        break;
    case AppFilter::outdated:
        return QStringLiteral("Brusk does not currently see any app updates waiting in this view.");
    case AppFilter::atRisk:
        return QStringLiteral(
            "This view will surface urgent app security updates when VARNO has enough evidence to flag them.");
    case AppFilter::verified:
        return QStringLiteral("Verified means VARNO has local provenance evidence for the app's update path (checksum "
                              "and Team ID) and an independent version check completed.");
    case AppFilter::unmeasured:
        return QStringLiteral("Not checked means VARNO classified the app but has not independently confirmed its "
                              "latest version (common for App Store without the mas CLI, or vendor self-updaters "
                              "without a version probe). This is honest ignorance — not a green bill of health.");
    case AppFilter::brew:
        return QStringLiteral("VARNO will show Homebrew-managed apps here when it sees them in the library.");
    case AppFilter::mas:
        return QStringLiteral("VARNO will show App Store-managed apps here when it sees them in the library.");
    case AppFilter::sparkle:
        return QStringLiteral("VARNO will show Sparkle-managed apps here when it sees them in the library.");
    case AppFilter::selfManaged:
        return QStringLiteral("Apps like Chrome, Microsoft Office, or Slack that update through their own vendor "
                              "mechanism will show up here once Brusk spots them.");
    }
    return QString();
}

StateBlock stateBlock(ShelfState state, AppFilter filter, const std::optional<QString> &error)
{
    StateBlock block;
    switch (state) {
    case ShelfState::tidy:
        block.title = QStringLiteral("Nothing to fix.");
        block.subtitle = QStringLiteral("Brusk has checked the whole library.");
        break;
    case ShelfState::loadFailed:
        block.title = QStringLiteral("Library didn't load.");
        block.subtitle = QStringLiteral("A scan ran, but Brusk couldn't show the apps. Retry reload — open "
                                        "Diagnostics if it keeps happening.");
        block.button = QStringLiteral("Reload library");
        block.centredSubtitle = true;
        break;
    case ShelfState::firstRun:
        block.title = QStringLiteral("Let's take a look.");
        block.subtitle = QStringLiteral("Brusk hasn't scanned your library yet.");
        block.button = QStringLiteral("Scan now");
        break;
    case ShelfState::error:
        block.title = QStringLiteral("Something's not right.");
        block.subtitle = error.value_or(QStringLiteral("Brusk couldn't read the library."));
        block.button = QStringLiteral("Try again");
        block.centredSubtitle = true;
        break;
    case ShelfState::filterEmpty:
        block.variant = BruskVariant::sentry;
        block.artworkSize = 112;
        block.title = emptyTitle(filter);
        block.subtitle = emptySubtitle(filter);
        block.centredSubtitle = true;
        break;
    case ShelfState::placeholders:
    case ShelfState::detailsList:
    case ShelfState::cardGrid:
        break;
    }
    return block;
}

int gridColumns(int width)
{
    return std::max(1, (width - 2 * kPadding + kSpacing) / (kMinimumCardWidth + kSpacing));
}

int columnWidth(int width, int columns)
{
    const int inner = width - 2 * kPadding - (columns - 1) * kSpacing;
    return std::max(1, inner / std::max(1, columns));
}

} // namespace ShelfRules
