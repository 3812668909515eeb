#pragma once

#include "platform/ColorPair.h"

#include <QFont>
#include <QString>

#include <optional>

class QLabel;
class QWidget;

namespace Labels {

// A label of plain text (never read as rich text, whatever it holds) in a
// face and, when given, a colour pair that follows the appearance (else the
// palette's text colour). A label that `wraps` breaks at word boundaries and
// takes as many lines as it needs.
QLabel *label(const QString &text, const QFont &font, std::optional<ColorPair> color = std::nullopt,
              bool wraps = false, QWidget *parent = nullptr);

// One line of plain text in a face and a colour pair.
inline QLabel *plain(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
{
    return label(text, font, color, false, parent);
}

} // namespace Labels
