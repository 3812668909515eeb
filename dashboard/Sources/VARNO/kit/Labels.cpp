#include "kit/Labels.h"

#include "kit/VarnoColor.h"

#include <QLabel>

namespace Labels {

QLabel *plain(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    VarnoColor::bindForeground(label, color);
    return label;
}

} // namespace Labels
