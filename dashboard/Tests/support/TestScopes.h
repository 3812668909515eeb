#pragma once

#include "TestSupport.h"

#include "platform/MainBundle.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace TestScopes {

// Points the main bundle somewhere for the object's lifetime.
class BundleScope {
public:
    explicit BundleScope(std::optional<QString> path) { MainBundle::setPathOverride(std::move(path)); }
    ~BundleScope() { MainBundle::setPathOverride(std::nullopt); }
    BundleScope(const BundleScope &) = delete;
    BundleScope &operator=(const BundleScope &) = delete;
};

// Sets an environment variable for the object's lifetime (unset when empty optional).
class EnvScope {
public:
    EnvScope(const char *name, std::optional<QByteArray> value)
        : m_name(name)
        , m_saved(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvScope()
    {
        if (m_saved)
            qputenv(m_name, *m_saved);
        else
            qunsetenv(m_name);
    }
    EnvScope(const EnvScope &) = delete;
    EnvScope &operator=(const EnvScope &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_saved;
};

// A bundle folder VARNO.app/Contents/{Info.plist,Resources} made from the
// given Info.plist entries (<key>k</key><string>v</string> pairs).
inline QString makeFakeBundle(const QString &parent, const QList<std::pair<QString, QString>> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n";
    for (const auto &[key, value] : entries)
        xml += "<key>" + key.toUtf8() + "</key><string>" + value.toUtf8() + "</string>\n";
    xml += "</dict></plist>\n";
    const QString bundle = parent + QStringLiteral("/VARNO.app");
    VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Info.plist"), xml);
    VarnoTest::writeFile(bundle + QStringLiteral("/Contents/Resources/.keep"), QByteArray());
    return bundle;
}

} // namespace TestScopes
