#pragma once

#include "records/AppRecord.h"

#include <QList>
#include <QString>

namespace PresentersTest {

// The engine stand-in's demo library after one scan, as `list --json --all`
// reports it; made once per test program in its temporary home.
const QList<AppRecord> &demoLibrary();

// The demo record with this bundle id (the test fails loudly when it is gone).
AppRecord demoApp(const QString &bundleId);

} // namespace PresentersTest
