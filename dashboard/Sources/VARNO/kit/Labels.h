#pragma once

#include "kit/ColorPair.h"

#include <QFont>
#include <QString>

#include <optional>

class QLabel;
class QMessageBox;
class QWidget;

namespace Labels {

// A label of plain text (never read as rich text, whatever it holds) in a
// face and, when given, a colour pair that follows the appearance (else the
// palette's text colour). A label that `wraps` breaks at word boundaries and
// takes as many lines as it needs.
QLabel *label(const QString &text, const QFont &font, std::optional<ColorPair> color = std::nullopt, bool wraps = false,
              QWidget *parent = nullptr);

// One line of plain text in a face and a colour pair.
inline QLabel *plain(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
{
    return label(text, font, color, false, parent);
}

// Sets a message box's informative text, shown as plain text whatever it
// holds. (The box's own text format reaches only its main label; the
// informative label would read markup in an app's name as rich text, links
// included.)
void setPlainInformativeText(QMessageBox *box, const QString &text);

// A tooltip that shows `text` as it is written. A tooltip is drawn as rich
// text whenever Qt::mightBeRichText says it may be; such a text is handed
// over escaped, everything else unchanged.
QString toolTip(const QString &text);

} // namespace Labels
