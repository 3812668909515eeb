#pragma once

#include "cards/CardRules.h"
#include "kit/ButtonStyles.h"
#include "kit/ColorPair.h"
#include "kit/SharedPainting.h"
#include "kit/SpinnerView.h"
#include "records/AppRecord.h"

#include "model/AppModel.h"
#include <QPointer>
#include <QStaticText>
#include <QWidget>

#include <functional>

class QColor;
class QPainter;
class QPixmap;
class QRectF;
class QSize;
class StyledButton;
class TrustBadgeView;

// How a card asks for the provenance drawer: the shelf's binding, written
// with the card's record.
using ShowProvenance = std::function<void(const AppRecord &)>;

// One line of plain text in a face and a colour pair, cut with "…" (at the
// end or in the middle) when it is given less room than it needs. It holds
// and lays out at most what PlainText::forField keeps of a text.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    ElidedLabel(const QFont &font, ColorPair color, Qt::TextElideMode mode, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setColor(const ColorPair &color);
    const ColorPair &color() const { return m_color; }
    // The text as painted at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    qreal textWidth() const;

    QString m_text;
    ColorPair m_color;
    Qt::TextElideMode m_mode;
    // The shown text laid out once per text, width and font, and painted
    // from that layout (a shelf repaints dozens of these at a time).
    QStaticText m_shown;
    int m_shownWidth = -1;
    mutable QSize m_hint;
    mutable qreal m_textWidth = -1;
};

// Plain text that wraps to at most `maxLines` lines, the last one ending in
// "…" when the text needs more. It holds and lays out at most what
// PlainText::forField keeps of a text.
class LineLimitedLabel : public QWidget {
    Q_OBJECT

public:
    LineLimitedLabel(const QFont &font, ColorPair color, int maxLines, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setColor(const ColorPair &color);
    const ColorPair &color() const { return m_color; }
    // The lines as painted at a width.
    QStringList linesFor(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    ColorPair m_color;
    int m_maxLines;
};

// A view symbol in a colour, in a square box; help and accessible texts are
// the caller's.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(const QString &symbol, ColorPair color, int box, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol, const ColorPair &color);
    QString symbol() const { return m_symbol; }
    const ColorPair &color() const { return m_color; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    ColorPair m_color;
    int m_box;
};

// The style of the action area's buttons: ui 11 semibold, white on orange
// (red when the app is at risk), padded 10 by 5, corners 8; the fill at 0.82
// under the pointer and the whole button at 0.8 while pressed.
struct UpdateButtonStyle : ButtonStyle {
    explicit UpdateButtonStyle(bool isRisk);
};

// The trailing area of the simple card: the step of a non-idle update, or
// the idle chain's symbol, badge or button (CardRules::actionAreaFor). A badge
// stays the same widget while the area keeps showing it, so that its pop-in
// plays once.
class CardActionArea : public QWidget {
    Q_OBJECT

public:
    CardActionArea(AppModel *model, QWidget *parent = nullptr);

    // Re-evaluates from the record and the model.
    void refresh(const AppRecord &app);

    const CardRules::ActionArea &area() const { return m_area; }
    // The shown widget (a SymbolView, SpinnerView, badge or StyledButton), or
    // nullptr when the area is empty.
    QWidget *content() const { return m_content; }
    StyledButton *button() const;

    // The room the area takes for a choice, from the fonts alone.
    static QSize sizeFor(const CardRules::ActionArea &area);

private:
    void rebuild();

    QPointer<AppModel> m_model;
    AppRecord m_app;
    CardRules::ActionArea m_area;
    bool m_built = false;
    QWidget *m_content = nullptr;
};

// The bounding size of `text` wrapped at `width` in `font`, worked out once
// per font, text and width and kept until the application's fonts change:
// the shelf measures a card for every record it lays out, and most records
// share their status line.
QSize wrappedTextSize(const QFont &font, const QString &text, int width);
// Its height, at least one line's.
int wrappedTextHeight(const QFont &font, const QString &text, int width);

// The corner radius of a card's face.
constexpr int cardRadius = 12;

// A card's rounded face in `bounds`: its background, its 1-point border and,
// when `focused`, the focus ring in the accent colour.
void paintCardFace(QPainter &painter, const QRectF &bounds, const QColor &background, const QColor &border, bool focused);

// Draws `face`, a card's face painted once into a pixmap (corners rounded at
// `radius`, a 1-pixel border), at the painter's origin, as drawing the whole
// pixmap would. When every pixel inside the border is `opaqueInside` away
// from the corners (background and focus ring), that band is copied rather
// than blended: the same pixels at a fraction of the cost (a shelf paints a
// screenful of faces at a time).
void drawCardFace(QPainter &painter, const QPixmap &face, int radius, bool opaqueInside);

// The model's flags as the card rules read them.
CardRules::BusyFlags busyFlags(const AppModel &model);

// The checkable "Update Mode" menu (the checkmark on the effective mode) and,
// while the in-app updater rule holds, "Check for Update in App": the first
// items of both cards' context menus.
class QMenu;
void addUpdateModeItems(QMenu *menu, AppModel *model, const AppRecord &app);

// What choosing a card does: selects the app in the model, then opens its
// provenance (on a copy of the record: the model may replace it meanwhile).
void openProvenanceOf(AppModel *model, const AppRecord &app, const ShowProvenance &showProvenance);
