#pragma once

#include "kit/BrandArtwork.h"
#include "model/AppFilter.h"

#include <QString>

#include <optional>

// What the shelf shows, as pure rules over the model's state: which one state
// it shows, the texts of each state, and how many columns its card grid has.
namespace ShelfRules {

enum class ShelfState {
    placeholders, // a scan runs over an empty library: six placeholder cards
    error,        // empty library with an error
    tidy,         // empty library, scanned, no scan time; also an empty "All Apps"
    loadFailed,   // empty library, scanned, with a scan time
    firstRun,     // empty library, never scanned
    filterEmpty,  // the filter (and search) keeps nothing
    detailsList,  // the detailed rows
    cardGrid,     // the simple cards
};

struct Inputs {
    bool isScanning = false;
    bool appsEmpty = true;
    bool hasError = false;
    bool hasEverScanned = false;
    bool hasLastScanDate = false;
    bool filteredEmpty = true;
    bool detailsMode = false;
    AppFilter filter = AppFilter::all;
};

// First match: a scan over an empty library shows placeholders (even with an
// error); an empty library shows the error, tidy, load-failed or first-run
// state; an empty filtered list shows the filter's empty state (the tidy
// state for "All Apps"), except while a scan runs; then the details list or
// the card grid, by the layout.
ShelfState state(const Inputs &inputs);

// The texts of a state block. `button` is empty where the state has none.
struct StateBlock {
    BruskVariant variant = BruskVariant::main;
    int artworkSize = 120;
    QString title;
    QString subtitle;
    QString button;
    // Whether the subtitle is set as centred lines (with padding or a width
    // limit) rather than one plain line.
    bool centredSubtitle = false;
    friend bool operator==(const StateBlock &, const StateBlock &) = default;
};

// The block of one of the six text states (not placeholders or the layouts).
// `error` is the model's error text; `filter` chooses the empty texts.
StateBlock stateBlock(ShelfState state, AppFilter filter, const std::optional<QString> &error);

// The empty state's title and subtitle of a filter ("All Apps" has none: it
// shows the tidy state).
QString emptyTitle(AppFilter filter);
QString emptySubtitle(AppFilter filter);

// The card grid: as many columns of at least 240 as fit between 16 of
// padding on each side with 10 between columns, never fewer than one; the
// columns share the width equally.
constexpr int kMinimumCardWidth = 240;
constexpr int kSpacing = 10;
constexpr int kPadding = 16;
constexpr int kPlaceholderCount = 6;
int gridColumns(int width);
// The width of each column at that width.
int columnWidth(int width, int columns);

} // namespace ShelfRules
