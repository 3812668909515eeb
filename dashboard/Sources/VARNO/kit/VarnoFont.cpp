#include "kit/VarnoFont.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QStringList>

#include <atomic>
#include <cmath>

namespace VarnoFont {
namespace {

std::function<bool(const QString &, const QString &)> &faceProbe()
{
    static std::function<bool(const QString &, const QString &)> probe;
    return probe;
}

// What the font database answered, per family and style. Asking it costs a
// fontconfig look-up each time, and every font a view makes asks it, so the
// answers are kept until the application's fonts change.
struct FaceAnswers {
    QMutex mutex;
    QHash<QString, bool> available; // family + '\n' + style
    quint64 generation = 0;
};

FaceAnswers &faceAnswers()
{
    static FaceAnswers answers;
    return answers;
}

std::atomic<quint64> &fontGeneration()
{
    static std::atomic<quint64> generation{1};
    return generation;
}

// Follows the application's font database once there is an application.
void followFontDatabase()
{
    static std::atomic<bool> following{false};
    if (following.load())
        return;
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app || following.exchange(true))
        return;
    QObject::connect(app, &QGuiApplication::fontDatabaseChanged, app, [] { ++fontGeneration(); });
    QObject::connect(app, &QObject::destroyed, [] {
        ++fontGeneration();
        following = false;
    });
}

bool askFontDatabase(const QString &family, const QString &style)
{
    if (!QFontDatabase::hasFamily(family))
        return false;
    return style.isEmpty() || QFontDatabase::styles(family).contains(style);
}

enum class Design { serif, standard, monospaced };

int pixelSize(qreal size)
{
    return std::max(1, int(std::lround(size)));
}

QFont systemFont(TextStyle style, Design design)
{
    QFont font;
    switch (design) {
    case Design::serif:
        font = QFont(QStringLiteral("serif"));
        font.setStyleHint(QFont::Serif);
        break;
    case Design::monospaced:
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::Monospace);
        break;
    case Design::standard:
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        break;
    }
    font.setPixelSize(textStyleSize(style));
    return font;
}

QFont face(const QString &family, Design fallback, qreal size, QFont::Weight weight, std::optional<TextStyle> relativeTo)
{
    const TextStyle style = relativeTo.value_or(textStyle(size));
    QFont font;
    if (isFaceAvailable(family)) {
        font = QFont(family);
        font.setPixelSize(pixelSize(size));
    } else {
        font = systemFont(style, fallback);
    }
    font.setWeight(weight);
    return font;
}

} // namespace

TextStyle textStyle(qreal size)
{
    if (size < 10)
        return TextStyle::caption2;
    if (size < 11.5)
        return TextStyle::caption;
    if (size < 12.5)
        return TextStyle::footnote;
    if (size < 14.5)
        return TextStyle::body;
    if (size < 17.5)
        return TextStyle::title3;
    if (size < 25)
        return TextStyle::title2;
    if (size < 34)
        return TextStyle::title;
    return TextStyle::largeTitle;
}

int textStyleSize(TextStyle style)
{
    switch (style) {
    case TextStyle::caption2:
    case TextStyle::caption:
    case TextStyle::footnote:
        return 10;
    case TextStyle::body:
        return 13;
    case TextStyle::title3:
        return 15;
    case TextStyle::title2:
        return 17;
    case TextStyle::title:
        return 22;
    case TextStyle::largeTitle:
        return 26;
    }
    return 13;
}

bool isFaceAvailable(const QString &family, const QString &style)
{
    if (const auto &probe = faceProbe())
        return probe(family, style);
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return askFontDatabase(family, style);
    followFontDatabase();
    FaceAnswers &answers = faceAnswers();
    const QString key = family + QLatin1Char('\n') + style;
    const quint64 generation = fontGeneration().load();
    {
        const QMutexLocker lock(&answers.mutex);
        if (answers.generation != generation) {
            answers.available.clear();
            answers.generation = generation;
        }
        const auto known = answers.available.constFind(key);
        if (known != answers.available.cend())
            return *known;
    }
    const bool available = askFontDatabase(family, style);
    const QMutexLocker lock(&answers.mutex);
    if (answers.generation == generation)
        answers.available.insert(key, available);
    return available;
}

quint64 fontsGeneration()
{
    followFontDatabase();
    return fontGeneration().load();
}

void setFaceProbe(std::function<bool(const QString &, const QString &)> probe)
{
    faceProbe() = std::move(probe);
}

QFont brusk(qreal size, QFont::Weight weight, std::optional<TextStyle> relativeTo)
{
    return face(QStringLiteral("Fraunces"), Design::serif, size, weight, relativeTo);
}

QFont italicBrusk(qreal size)
{
    QFont font = brusk(size, QFont::Light);
    font.setItalic(true);
    return font;
}

QFont ui(qreal size, QFont::Weight weight, std::optional<TextStyle> relativeTo)
{
    return face(QStringLiteral("Geist"), Design::standard, size, weight, relativeTo);
}

QFont mono(qreal size, QFont::Weight weight, std::optional<TextStyle> relativeTo)
{
    return face(QStringLiteral("Geist Mono"), Design::monospaced, size, weight, relativeTo);
}

QFont wordmark(qreal size, std::optional<TextStyle> relativeTo)
{
    const TextStyle style = relativeTo.value_or(textStyle(size));
    const QString family = QStringLiteral("Cabinet Grotesk");
    const QString bold = QStringLiteral("Bold");
    if (isFaceAvailable(family, bold)) {
        QFont font(family);
        font.setStyleName(bold);
        font.setPixelSize(pixelSize(size));
        return font;
    }
    return ui(size, QFont::Bold, style);
}

} // namespace VarnoFont
