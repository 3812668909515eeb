#pragma once

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>

class QPainter;
class QRectF;

// The view symbols: symbols.json in the icons folder maps each symbol name
// the views use ("gearshape", "checkmark.seal.fill", …) to an SVG file beside
// it. Symbols render in any colour and size; renders are cached.
//
// The SVG files draw in "currentColor", which QtSvg does not resolve, so the
// colour is written into the SVG text before it is rendered. An unknown
// symbol, or one whose file is missing or broken, renders as nothing and is
// logged once.
class SymbolIcons {
public:
    // The table of the running bundle (Resources/icons). Reloaded when the
    // bundle location changes.
    static SymbolIcons &shared();

    // Loads <folder>/symbols.json. A missing or malformed table leaves the set
    // empty (and says so in the log).
    explicit SymbolIcons(const QString &folder);

    QString folder() const { return m_folder; }
    bool isLoaded() const { return !m_files.isEmpty(); }
    QStringList symbolNames() const;
    bool contains(const QString &symbol) const { return m_files.contains(symbol); }
    // The SVG file of a symbol, or an empty text.
    QString filePath(const QString &symbol) const;

    // The symbol drawn into a square of `size` logical pixels at the given
    // device pixel ratio. A null pixmap when the symbol cannot be drawn.
    QPixmap pixmap(const QString &symbol, const QColor &color, int size, qreal devicePixelRatio = 1.0);
    // An icon with 1x and 2x renders of the symbol; empty when it cannot be drawn.
    QIcon icon(const QString &symbol, const QColor &color, int size);
    // Draws the symbol centred in `rect` (a square of its shorter side), sharp
    // at the painter's device pixel ratio. Returns whether anything was drawn.
    bool paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);

    // The square a symbol takes beside text of `fontSize` pixels: the SVGs
    // leave a margin inside their box, so the box is a little larger than the
    // font, and the symbol's ink about as tall as the text.
    static qreal boxForFontSize(qreal fontSize) { return fontSize * 1.2; }

    int cachedRenderCount() const { return int(m_renders.size()); }

private:
    QByteArray svgText(const QString &symbol);
    void logOnce(const QString &symbol, const QString &line);

    QString m_folder;
    QHash<QString, QString> m_files;   // symbol -> file name
    QHash<QString, QByteArray> m_svg;  // symbol -> SVG text
    QHash<QString, QPixmap> m_renders; // symbol|rgba|size|dpr -> render
    QSet<QString> m_reported;          // symbols already logged as missing
};
