#pragma once

#include "model/PosturePresenter.h"
#include "records/AppRecord.h"

#include <QList>
#include <QString>

#include <functional>

Q_DECLARE_METATYPE(AppRecord)
Q_DECLARE_METATYPE(PostureTone)
Q_DECLARE_METATYPE(Tone)

namespace PresentersTest {

// The engine stand-in's demo library after one scan, as `list --json --all`
// reports it; made once per test program in its temporary home.
const QList<AppRecord> &demoLibrary();

// The demo record with this bundle id (the test fails loudly when it is gone).
AppRecord demoApp(const QString &bundleId);

// An app "com.example.app" named "Example", then changed by `change`.
AppRecord exampleApp(const std::function<void(AppRecord &)> &change);

} // namespace PresentersTest
