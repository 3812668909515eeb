#include "kit/SymbolIcons.h"

#include "base/Logging.h"
#include "platform/MainBundle.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <memory>

namespace {

// Renders are small; a few hundred cover every view at two pixel ratios.
constexpr qsizetype kMaxCachedRenders = 512;

QString iconsFolderOfBundle()
{
    const auto resources = MainBundle::resourcesPath();
    return resources ? *resources + QStringLiteral("/icons") : QString();
}

} // namespace

SymbolIcons &SymbolIcons::shared()
{
    static std::unique_ptr<SymbolIcons> instance;
    const QString folder = iconsFolderOfBundle();
    if (!instance || instance->folder() != folder)
        instance = std::make_unique<SymbolIcons>(folder);
    return *instance;
}

SymbolIcons::SymbolIcons(const QString &folder)
    : m_folder(folder)
{
    if (folder.isEmpty()) {
        qCWarning(lcVarno) << "No icons folder: symbols will not be drawn.";
        return;
    }
    const QString tablePath = folder + QStringLiteral("/symbols.json");
    QFile file(tablePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcVarno).noquote() << "Couldn't read the symbol table" << tablePath << "- symbols will not be drawn.";
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcVarno).noquote() << "The symbol table" << tablePath << "is not a JSON object:" << error.errorString();
        return;
    }
    const QJsonObject table = document.object();
    for (auto it = table.begin(); it != table.end(); ++it) {
        const QString fileName = it.value().toString();
        // Plain file names in the same folder only.
        if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\'))
            || fileName.startsWith(QLatin1Char('.'))) {
            qCWarning(lcVarno).noquote() << "The symbol table entry" << it.key() << "has no usable file name.";
            continue;
        }
        m_files.insert(it.key(), fileName);
    }
}

QStringList SymbolIcons::symbolNames() const
{
    QStringList names = m_files.keys();
    names.sort();
    return names;
}

QString SymbolIcons::filePath(const QString &symbol) const
{
    const auto it = m_files.constFind(symbol);
    return it == m_files.constEnd() ? QString() : m_folder + QLatin1Char('/') + *it;
}

void SymbolIcons::logOnce(const QString &symbol, const QString &line)
{
    if (m_reported.contains(symbol))
        return;
    m_reported.insert(symbol);
    qCWarning(lcVarno).noquote() << line;
}

QByteArray SymbolIcons::svgText(const QString &symbol)
{
    if (const auto it = m_svg.constFind(symbol); it != m_svg.constEnd())
        return *it;
    if (!m_files.contains(symbol)) {
        logOnce(symbol, QStringLiteral("Unknown symbol \"%1\": drawn as nothing.").arg(symbol));
        return {};
    }
    QFile file(filePath(symbol));
    if (!file.open(QIODevice::ReadOnly)) {
        logOnce(symbol,
                QStringLiteral("Couldn't read the file of the symbol \"%1\" (%2): drawn as nothing.")
                    .arg(symbol, file.fileName()));
        return {};
    }
    const QByteArray text = file.readAll();
    m_svg.insert(symbol, text);
    return text;
}

QPixmap SymbolIcons::pixmap(const QString &symbol, const QColor &color, int size, qreal devicePixelRatio)
{
    if (size <= 0 || !color.isValid())
        return {};
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(symbol).arg(color.rgba(), 8, 16).arg(size).arg(dpr);
    if (const auto it = m_renders.constFind(key); it != m_renders.constEnd())
        return *it;

    const QByteArray text = svgText(symbol);
    if (text.isEmpty())
        return {};

    QByteArray coloured = text;
    coloured.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(coloured);
    if (!renderer.isValid()) {
        logOnce(symbol,
                QStringLiteral("The file of the symbol \"%1\" is not a valid SVG: drawn as nothing.").arg(symbol));
        return {};
    }

    const int device = std::max(1, int(std::lround(size * dpr)));
    QImage image(device, device, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(color.alphaF());
        renderer.render(&painter, QRectF(0, 0, device, device));
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(dpr);

    if (m_renders.size() >= kMaxCachedRenders)
        m_renders.clear();
    m_renders.insert(key, result);
    return result;
}

QIcon SymbolIcons::icon(const QString &symbol, const QColor &color, int size)
{
    QIcon icon;
    for (const qreal dpr : {1.0, 2.0}) {
        const QPixmap render = pixmap(symbol, color, size, dpr);
        if (render.isNull())
            return {};
        icon.addPixmap(render);
    }
    return icon;
}

bool SymbolIcons::paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color)
{
    const qreal side = std::min(rect.width(), rect.height());
    const int size = int(std::lround(side));
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap render = pixmap(symbol, color, size, dpr);
    if (render.isNull())
        return false;
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.drawPixmap(target, render, QRectF(QPointF(0, 0), QSizeF(render.size())));
    return true;
}
