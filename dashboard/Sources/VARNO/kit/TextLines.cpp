#include "kit/TextLines.h"

#include <QFontMetrics>
#include <QTextLayout>

#include <algorithm>

namespace TextLines {

QStringList limited(const QString &text, const QFont &font, int maxLines, int width)
{
    QStringList lines;
    if (text.isEmpty() || width <= 0)
        return lines;
    const int most = std::max(1, maxLines);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() + 1 == most) {
            // The last line allowed takes the rest of the text, cut to fit.
            const QString rest = text.mid(line.textStart()).simplified();
            lines.append(QFontMetrics(font).elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

} // namespace TextLines
