#pragma once

#include <QMetaType>

// The nine library filters of the Workshop's sidebar. The model only holds the
// selected one; the views decide what each shows.
enum class AppFilter {
    all,
    outdated,
    atRisk,
    verified,
    unmeasured,
    brew,
    mas,
    sparkle,
    selfManaged,
};

Q_DECLARE_METATYPE(AppFilter)
