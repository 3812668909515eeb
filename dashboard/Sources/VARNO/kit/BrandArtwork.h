#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QPainter;
class QSvgRenderer;

// One decoded artwork file: an SVG drawing or a raster image. Painted scaled
// to fit its target (aspect kept, centred, smooth).
class ArtworkImage {
public:
    // Decodes a file; nothing when it cannot be read or decoded.
    static std::shared_ptr<ArtworkImage> load(const QString &path);
    ~ArtworkImage();

    QSizeF naturalSize() const;
    void paintFitted(QPainter &painter, const QRectF &target) const;

private:
    ArtworkImage() = default;
    std::unique_ptr<QSvgRenderer> m_svg;
    QImage m_raster;
};

// Where the artwork lives: <Resources>/images/<name>.<extension>.
namespace BrandArtwork {

// The file of an image resource, when it exists.
std::optional<QString> resourceFile(const QString &name, const QString &extension);
// An image resource of any accepted type (png, pdf, svg, icns, tried in that
// order); the first file found is decoded, and nothing is returned when it
// does not decode.
std::shared_ptr<ArtworkImage> image(const QString &name);

} // namespace BrandArtwork

// The persona Brusk in one of its roles.
enum class BruskVariant { main, sentry, craftsman, curator };

// Draws Brusk in a square of `side` pixels from "brusk[_<role>].svg"; when the
// file does not load, a drawn emblem: a rounded gold square with the role's
// symbol. Loaded files are cached for the process; a file that failed to load
// is looked for again on the next paint.
class BruskView : public QWidget {
    Q_OBJECT

public:
    BruskView(qreal side, BruskVariant variant, QWidget *parent = nullptr);

    qreal side() const { return m_side; }
    void setSide(qreal side);
    BruskVariant variant() const { return m_variant; }
    void setVariant(BruskVariant variant);

    QSize sizeHint() const override;

    static QString resourceName(BruskVariant variant);
    static QString fallbackSymbol(BruskVariant variant);
    // The variant's artwork through the cache; nothing when it does not load.
    static std::shared_ptr<ArtworkImage> cachedImage(BruskVariant variant);
    static bool isCached(BruskVariant variant);
    static void clearCache();

    // The artwork (or its emblem) fitted into `rect`; for views that draw
    // Brusk themselves.
    static void paintArtwork(QPainter &painter, const QRectF &rect, BruskVariant variant);
    static void paintEmblem(QPainter &painter, const QRectF &rect, BruskVariant variant);
    // The emblem's geometry for a square of `side`: corner radius 0.22 of the
    // side, the symbol at a font size of 0.38 of the side, stroke 1.5.
    static qreal emblemCornerRadius(qreal side) { return side * 0.22; }
    static qreal emblemSymbolSize(qreal side) { return side * 0.38; }
    static constexpr qreal kEmblemStrokeWidth = 1.5;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_side;
    BruskVariant m_variant;
};

// The persona's head icon at one of its two sizes.
enum class HeadIconSize { menuBar, sidebar };

// Draws "head_icon_50x50" (menu bar) or "head_icon_100x100" (sidebar) in a
// square of `side` pixels; when the image does not load, BruskView's main
// artwork. Cached like BruskView.
class HeadIconView : public QWidget {
    Q_OBJECT

public:
    HeadIconView(qreal side, HeadIconSize iconSize, QWidget *parent = nullptr);

    qreal side() const { return m_side; }
    HeadIconSize iconSize() const { return m_iconSize; }

    QSize sizeHint() const override;

    static QString resourceName(HeadIconSize iconSize);
    static std::shared_ptr<ArtworkImage> cachedImage(HeadIconSize iconSize);
    static bool isCached(HeadIconSize iconSize);
    static void clearCache();

    static void paintArtwork(QPainter &painter, const QRectF &rect, HeadIconSize iconSize);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_side;
    HeadIconSize m_iconSize;
};

// The product word "varno" in the wordmark face at `fontSize` pixels: "varn"
// in the primary text colour, then "o" in gold, on one baseline, no gap.
class BrandWordmarkView : public QWidget {
    Q_OBJECT

public:
    explicit BrandWordmarkView(qreal fontSize, QWidget *parent = nullptr);

    qreal fontSize() const { return m_fontSize; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static QString leadingText();  // "varn"
    static QString trailingText(); // "o"

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_fontSize;
};
