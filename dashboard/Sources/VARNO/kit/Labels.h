#pragma once

#include "platform/ColorPair.h"

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace Labels {

// A label of plain text (never read as rich text, whatever it holds) in a
// face and a colour pair that follows the appearance.
QLabel *plain(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent);

} // namespace Labels
