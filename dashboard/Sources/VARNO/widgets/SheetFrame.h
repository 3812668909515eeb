#pragma once

#include "kit/ColorPair.h"

#include <QDialog>
#include <QFont>
#include <QString>
#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;
class StyledButton;

// The pieces the remediation sheets are built from: wrapped plain text with
// extra line spacing, symbols, a small spinner, cards, status lines and
// progress lines. Colours are tokens resolved while painting, so an
// appearance change recolours everything without a rebuild.
namespace SheetParts {

// Plain text that wraps to its width, with `lineSpacing` extra pixels between
// lines, in a colour pair. At most `maxLines` lines (0: no limit); the last
// one shown ends in "…" when the text goes on. One line never wraps.
class TextBlock : public QWidget {
    Q_OBJECT

public:
    TextBlock(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    const ColorPair &color() const { return m_color; }
    void setColor(const ColorPair &color);
    void setLineSpacing(qreal spacing);
    void setMaxLines(int lines);
    int maxLines() const { return m_maxLines; }

    // The lines as laid out at `width` (elided as drawn).
    QStringList linesAt(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QFont m_font;
    ColorPair m_color;
    qreal m_lineSpacing = 0;
    int m_maxLines = 0;
};

// A symbol from the app's symbol table, in a colour pair, in a square of `size`.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(const QString &symbol, int size, const ColorPair &color, QWidget *parent = nullptr);
    QString symbol() const { return m_symbol; }
    const ColorPair &color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    ColorPair m_color;
};

// An indeterminate progress indicator: a turning arc. It turns only while
// shown; under Reduce Motion it stands still.
class Spinner : public QWidget {
    Q_OBJECT

public:
    Spinner(int side, const ColorPair &color, QWidget *parent = nullptr);
    // Draws the arc into `rect` at the given angle (for views that paint it themselves).
    static void paintArc(QPainter &painter, const QRectF &rect, const QColor &color, int angle);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    ColorPair m_color;
    int m_timer = 0;
    int m_angle = 0;
};

// A rounded fill (corner radius 8) that holds a column: padded 12, spacing 10.
class Card : public QWidget {
    Q_OBJECT

public:
    explicit Card(QWidget *parent = nullptr);
    QVBoxLayout *column() const { return m_column; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_column;
};

// The lines of a text wrapped at `width` (hard line breaks kept); past
// `maxLines` (0: no limit) the last line shown ends in "…".
QStringList wrappedLines(const QString &text, const QFont &font, int maxLines, int width);

// What a person is shown of a text from the engine: whole up to `limit`
// user-perceived characters, else its beginning and "…" (the log keeps it all).
QString bounded(const QString &text, qsizetype limit = 600);
// A hairline across the sheet in the border colour.
QWidget *divider(QWidget *parent);
// A symbol tinted with the line's colour, then a title in ui 13 medium.
QWidget *statusLine(const QString &symbol, const ColorPair &tint, const QString &title, QWidget *parent);
// Body text of a card: ui 12 regular, secondary colour, line spacing 3.
TextBlock *bodyText(const QString &text, QWidget *parent);
// A spinner at 0.7 of its size beside a text in ui 12 regular, secondary colour.
QWidget *progressLine(const QString &text, QWidget *parent);

} // namespace SheetParts

// The frame every remediation sheet shares: a window-modal dialog of a fixed
// width with a header (title and subtitle over a divider), a scrolling state
// area, and a footer (under a divider) holding the ghost and the primary
// button at its leading edge. Each sheet puts the view of its current state
// into the state area; the frame follows its height.
class SheetFrame : public QDialog {
    Q_OBJECT

public:
    SheetFrame(int width, QWidget *parent = nullptr);

    void setHeader(const QString &title, const QFont &titleFont, const QString &subtitle);
    // Replaces what the state area shows (the old view is deleted).
    void setStateView(QWidget *view);
    QWidget *stateView() const { return m_stateView; }
    QWidget *stateHost() const { return m_stateHost; }

    StyledButton *ghostButton() const { return m_ghost; }
    StyledButton *primaryButton() const { return m_primary; }

    // The texts shown in the state area, in reading order (plain, for tests).
    QStringList stateTexts() const;

    // The state area grows with its content up to this height, then scrolls.
    static constexpr int kMaximumStateHeight = 520;

protected:
    void showEvent(QShowEvent *event) override;
    void fitToContent();

private:
    QWidget *m_stateHost = nullptr;
    QVBoxLayout *m_stateLayout = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_stateView = nullptr;
    StyledButton *m_ghost = nullptr;
    StyledButton *m_primary = nullptr;
    int m_width;
};
