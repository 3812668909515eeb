#pragma once

#include "TestSupport.h"

#include "platform/Appearance.h"
#include "platform/MainBundle.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <optional>

namespace AppearanceTest {

// Sets the appearance for its lifetime, then restores the previous override.
class AppearanceScope {
public:
    explicit AppearanceScope(Appearance::Scheme scheme)
        : m_previous(Appearance::instance().override())
    {
        Appearance::instance().setOverride(scheme);
    }
    ~AppearanceScope() { Appearance::instance().setOverride(m_previous); }
    AppearanceScope(const AppearanceScope &) = delete;
    AppearanceScope &operator=(const AppearanceScope &) = delete;

private:
    std::optional<Appearance::Scheme> m_previous;
};

// Reduce Motion for its lifetime (hover looks switch at once).
class ReduceMotionScope {
public:
    explicit ReduceMotionScope(bool reduce = true)
        : m_previous(Appearance::instance().reduceMotion())
    {
        Appearance::instance().setReduceMotion(reduce);
    }
    ~ReduceMotionScope() { Appearance::instance().setReduceMotion(m_previous); }
    ReduceMotionScope(const ReduceMotionScope &) = delete;
    ReduceMotionScope &operator=(const ReduceMotionScope &) = delete;

private:
    bool m_previous;
};

// The main bundle pointed at the build's staged VARNO.app for its lifetime.
class StagedBundleScope {
public:
    StagedBundleScope() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }
    ~StagedBundleScope() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }
};

// A bundle of its own in a temporary folder: the staged icons, and only the
// images a test writes. The main bundle points at it for the object's
// lifetime, and back at the staged bundle afterwards.
class FakeBundle {
public:
    FakeBundle()
    {
        QDir().mkpath(resources() + QStringLiteral("/images"));
        const QString icons = VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/icons");
        QDir().mkpath(resources() + QStringLiteral("/icons"));
        for (const QString &name : QDir(icons).entryList(QDir::Files))
            QFile::copy(icons + QLatin1Char('/') + name, resources() + QStringLiteral("/icons/") + name);
        MainBundle::setPathOverride(path());
    }
    ~FakeBundle() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }
    FakeBundle(const FakeBundle &) = delete;
    FakeBundle &operator=(const FakeBundle &) = delete;

    QString path() const { return m_dir.filePath(QStringLiteral("VARNO.app")); }
    QString resources() const { return path() + QStringLiteral("/Contents/Resources"); }
    QString imagePath(const QString &fileName) const { return resources() + QStringLiteral("/images/") + fileName; }
    bool writeImage(const QString &fileName, const QByteArray &bytes) const
    {
        return VarnoTest::writeFile(imagePath(fileName), bytes);
    }
    bool copyStagedImage(const QString &fileName) const
    {
        return QFile::copy(VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/images/") + fileName,
                           imagePath(fileName));
    }

private:
    QTemporaryDir m_dir;
};

// `top` drawn over `bottom` at `opacity` (both opaque colours in, opaque out).
inline QColor over(const QColor &top, const QColor &bottom, qreal opacity)
{
    auto channel = [opacity](int t, int b) { return int(std::lround(t * opacity + b * (1 - opacity))); };
    return QColor(channel(top.red(), bottom.red()), channel(top.green(), bottom.green()),
                  channel(top.blue(), bottom.blue()));
}

inline bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

inline QString describe(const QColor &c)
{
    return c.name(QColor::HexArgb);
}

} // namespace AppearanceTest
