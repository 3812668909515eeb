#include "cards/AppCardSimpleView.h"

#include "cards/CardAccessibility.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "records/VendorUpdaters.h"
#include "widgets/AppIconView.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStaticText>

namespace {

// The status line: a plain-text, word-wrapping QLabel that paints as one, with
// its size hints worked out as QLabel does but kept per font, text and width.
// A QLabel works them out afresh for every text it is given (a few text
// layouts each), and the shelf hands its cards a new record at every scroll.
class StatusLabel : public QLabel {
public:
    explicit StatusLabel(QWidget *parent)
        : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
    }

    QSize sizeHint() const override
    {
        if (!isPlain())
            return QLabel::sizeHint();
        return hints().preferred;
    }

    QSize minimumSizeHint() const override
    {
        if (!isPlain())
            return QLabel::minimumSizeHint();
        return hints().minimum;
    }

    int heightForWidth(int width) const override
    {
        if (!isPlain())
            return QLabel::heightForWidth(width);
        return bounds(width).expandedTo(minimumSize()).height();
    }

protected:
    // Painted from a layout kept per text, width and font, where QLabel
    // would put the wrapped lines: left-aligned, centred vertically.
    void paintEvent(QPaintEvent *event) override
    {
        if (!isPlain() || !isEnabled()) {
            QLabel::paintEvent(event);
            return;
        }
        const int width = contentsRect().width();
        if (m_laidOut.text() != text() || m_laidOut.textWidth() != width || !(m_laidOutFont == font())) {
            m_laidOut.setTextFormat(Qt::PlainText);
            m_laidOut.setTextWidth(width);
            m_laidOut.setText(text());
            m_laidOut.prepare(QTransform(), font());
            m_laidOutFont = font();
        }
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        painter.setFont(font());
        const qreal top = (contentsRect().height() - bounds(width).height()) / 2.0;
        painter.drawStaticText(QPointF(contentsRect().left(), contentsRect().top() + top), m_laidOut);
    }

private:
    QStaticText m_laidOut;
    QFont m_laidOutFont;

    struct Hints {
        QSize preferred;
        QSize minimum;
    };

    // The label as the card sets it up: what the hints below assume.
    bool isPlain() const
    {
        const QMargins none;
        return wordWrap() && textFormat() == Qt::PlainText && margin() == 0 && indent() < 0 && frameWidth() == 0
            && contentsMargins() == none && minimumWidth() == 0 && alignment() == (Qt::AlignLeft | Qt::AlignVCenter)
            && layoutDirection() == Qt::LeftToRight && maximumWidth() == QWIDGETSIZE_MAX;
    }

    // The text's bounding size wrapped at `width`, as QLabel measures it
    // (vertical centring left out), kept per font, text and width.
    QSize bounds(int width) const { return wrappedTextSize(font(), text(), width); }

    // QLabel's own choice: the preferred size wraps at about 80 characters,
    // then at half and a quarter of that while the text stays short; the
    // minimum is the widest word by the height of one line (or less).
    Hints hints() const
    {
        ensurePolished();
        const QFontMetrics metrics = fontMetrics();
        const int tryWidth = metrics.averageCharWidth() * 80;
        QSize preferred = bounds(tryWidth);
        if (preferred.height() < 4 * metrics.lineSpacing() && preferred.width() > tryWidth / 2)
            preferred = bounds(tryWidth / 2);
        if (preferred.height() < 2 * metrics.lineSpacing() && preferred.width() > tryWidth / 4)
            preferred = bounds(tryWidth / 4);
        preferred = preferred.expandedTo(minimumSize());
        QSize minimum(bounds(0).expandedTo(minimumSize()).width(),
                      bounds(QWIDGETSIZE_MAX).expandedTo(minimumSize()).height());
        if (preferred.height() < minimum.height())
            minimum.setHeight(preferred.height());
        return Hints{preferred, minimum};
    }
};

// The card's two faces as heightFor() needs them, made once until the fonts
// change (heightFor() runs for every record the shelf lays out).
struct MeasuringFaces {
    quint64 fonts = 0;
    QFont application;
    QFont status;
    int nameHeight = 0;
};

const MeasuringFaces &measuringFaces()
{
    static MeasuringFaces faces;
    const quint64 fonts = VarnoFont::fontsGeneration();
    const QFont application = QGuiApplication::font();
    if (faces.nameHeight == 0 || faces.fonts != fonts || !(faces.application == application)) {
        faces.fonts = fonts;
        faces.application = application;
        faces.status = VarnoFont::ui(12, QFont::Normal);
        faces.nameHeight = QFontMetrics(VarnoFont::ui(13, QFont::Medium)).height();
    }
    return faces;
}

} // namespace

AppCardSimpleView::AppCardSimpleView(AppModel *model, const AppRecord &app, ShowProvenance showProvenance, QWidget *parent)
    : ChoosableCard(parent)
    , m_model(model)
    , m_app(app)
    , m_showProvenance(std::move(showProvenance))
{
    if (!model)
        qFatal("AppCardSimpleView needs the app's model");
    CardAccessibility::install();
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumWidth(minimumWidth);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    // Icon, texts and action area in a row, laid out by layOutParts().
    m_icon = new AppIconView(app, iconSide, this);
    m_name = new ElidedLabel(VarnoFont::ui(13, QFont::Medium), VarnoColor::textPrimary(), Qt::ElideRight, this);
    m_status = new StatusLabel(this);
    m_status->setFont(VarnoFont::ui(12, QFont::Normal));
    m_status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    m_action = new CardActionArea(model, this);

    connectCardRefresh(model, this, [this] { refresh(); });
    connect(&Appearance::instance(), &Appearance::changed, this, [this] { refresh(); });
    // A card made for a record shows it from the start; the shelf makes its
    // cards unbound and binds each before showing it.
    if (!m_app.bundle_id.isEmpty())
        refresh();
}

int AppCardSimpleView::heightFor(const AppModel &model, const AppRecord &app, int width)
{
    const QString &bid = app.bundle_id;
    const auto incident = model.incidents().constFind(bid);
    const std::optional<AppIncident> openIncident = incident != model.incidents().cend() ? std::optional(*incident)
                                                                                         : std::nullopt;
    const UpdateState state = model.updateState(bid);
    const QString status = AppTrustPresenter::make(app, state, openIncident, VendorUpdaters::shared()).title;
    const CardRules::ActionArea area = CardRules::actionAreaFor(app, state, busyFlags(model));
    const QSize action = CardActionArea::sizeFor(area);

    const MeasuringFaces &faces = measuringFaces();
    const int statusHeight = wrappedTextHeight(faces.status, status, textWidthFor(width, action));
    const int texts = faces.nameHeight + textSpacing + statusHeight;
    return 2 * padding + std::max({iconSide, texts, action.height()});
}

int AppCardSimpleView::textWidthFor(int width, QSize action)
{
    // The padding, the icon and a gap on each side of the texts.
    return std::max(1, width - 2 * padding - iconSide - gap - (action.width() > 0 ? gap + action.width() : 0));
}

void AppCardSimpleView::layOutParts()
{
    // The row heightFor() measures: each part centred vertically in the room
    // inside the padding.
    const QRect inner = rect().marginsRemoved(QMargins(padding, padding, padding, padding));
    const auto centred = [&inner](int x, QSize size) {
        return QRect(QPoint(x, inner.top() + (inner.height() - size.height()) / 2), size);
    };
    m_icon->setGeometry(centred(inner.left(), QSize(iconSide, iconSide)));

    // The room heightFor() gave the area, which its content's size hint equals.
    const QSize action = CardActionArea::sizeFor(m_action->area());
    m_action->setGeometry(centred(inner.right() + 1 - action.width(), action));

    const int textWidth = textWidthFor(width(), action);
    const int nameHeight = m_name->sizeHint().height();
    const int statusHeight = m_status->heightForWidth(textWidth);
    const QRect texts = centred(inner.left() + iconSide + gap, QSize(textWidth, nameHeight + textSpacing + statusHeight));
    m_name->setGeometry(texts.left(), texts.top(), textWidth, nameHeight);
    m_status->setGeometry(texts.left(), texts.top() + nameHeight + textSpacing, textWidth, statusHeight);
}

QSize AppCardSimpleView::rowSize(QSize texts) const
{
    const QSize action = CardActionArea::sizeFor(m_action->area());
    const int width = 2 * padding + iconSide + gap + texts.width() + (action.width() > 0 ? gap + action.width() : 0);
    return QSize(std::max<int>(minimumWidth, width), 2 * padding + std::max({iconSide, texts.height(), action.height()}));
}

QSize AppCardSimpleView::sizeHint() const
{
    // The name and the status on their preferred lines.
    const QSize name = m_name->sizeHint();
    const QSize status = m_status->sizeHint();
    return rowSize(QSize(std::max(name.width(), status.width()), name.height() + textSpacing + status.height()));
}

QSize AppCardSimpleView::minimumSizeHint() const
{
    const QSize status = m_status->minimumSizeHint();
    return rowSize(QSize(status.width(), m_name->sizeHint().height() + textSpacing + status.height()));
}

int AppCardSimpleView::heightForWidth(int width) const
{
    return m_model ? heightFor(*m_model, m_app, width) : 2 * padding + iconSide;
}

void AppCardSimpleView::resizeEvent(QResizeEvent *event)
{
    ChoosableCard::resizeEvent(event);
    layOutParts();
}

int AppCardSimpleView::heightFor(const AppRecord &record, int width) const
{
    return m_model ? heightFor(*m_model, record, width) : 0;
}

void AppCardSimpleView::setApp(const AppRecord &app)
{
    if (!(m_app.bundle_id == app.bundle_id && m_app.app_name == app.app_name))
        m_icon->setApp(app);
    m_app = app;
    refresh();
}

QString AppCardSimpleView::statusText() const
{
    return m_presentation.title;
}

QString AppCardSimpleView::accessibilityHint()
{
    return QStringLiteral("Views provenance and update history");
}

QString AppCardSimpleView::accessibilityLabel() const
{
    return CardRules::accessibilityCardLabel(m_app, statusText());
}

void AppCardSimpleView::refresh()
{
    if (!m_model)
        return;
    // An app without an icon is asked for it again at each refresh.
    m_icon->refresh();
    const QString &bid = m_app.bundle_id;
    const auto incident = m_model->incidents().constFind(bid);
    const std::optional<AppIncident> openIncident = incident != m_model->incidents().cend() ? std::optional(*incident)
                                                                                            : std::nullopt;
    m_presentation = AppTrustPresenter::make(m_app, m_model->updateState(bid), openIncident, VendorUpdaters::shared());

    m_name->setText(m_app.app_name);
    m_status->setText(statusText());
    const QColor tone = VarnoColor::tone(PosturePresenter::tone(CardRules::toneFor(m_presentation.state))).resolved();
    if (m_status->palette().color(QPalette::WindowText) != tone
        || !m_status->palette().isBrushSet(QPalette::Active, QPalette::WindowText)) {
        QPalette palette = m_status->palette();
        palette.setColor(QPalette::WindowText, tone);
        m_status->setPalette(palette);
    }
    m_action->refresh(m_app);
    layOutParts();
    updateGeometry();

    setObjectName(QStringLiteral("app-card-") + bid);
    // Each change of these tells assistive technology again: only changes.
    if (const QString label = accessibilityLabel(); label != accessibleName())
        setAccessibleName(label);
    if (accessibleDescription().isEmpty())
        setAccessibleDescription(accessibilityHint());
    update();
}

void AppCardSimpleView::openProvenance()
{
    openProvenanceOf(m_model, m_app, m_showProvenance);
}

QMenu *AppCardSimpleView::buildContextMenu()
{
    auto *menu = new QMenu(this);
    addUpdateModeItems(menu, m_model, m_app);
    return menu;
}

void AppCardSimpleView::paintEvent(QPaintEvent *)
{
    const qreal hover = hoverProgress();
    const QColor background = VarnoColor::mix(VarnoColor::surface().resolved(), VarnoColor::surfaceHover().resolved(),
                                              hover);
    // The border at 0.55 while hovered.
    const CardRules::BorderColor border = this->border();
    const QColor borderColor = border.color.resolved(border.opacity * (1.0 - 0.45 * hover));
    const bool focused = hasFocus();
    QPainter painter(this);

    // A card at rest looks like its neighbours of the same size: its face is
    // painted once into a shared pixmap and copied. Faces in the middle of a
    // hover fade are painted as they are.
    if (hover > 0.0 && hover < 1.0) {
        paintCardFace(painter, QRectF(rect()), background, borderColor, focused);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QString key = QStringLiteral("varno-card-face:%1x%2@%3:%4:%5:%6:%7")
                            .arg(width())
                            .arg(height())
                            .arg(ratio)
                            .arg(background.rgba(), 0, 16)
                            .arg(borderColor.rgba(), 0, 16)
                            .arg(focused ? 1 : 0)
                            .arg(VarnoColor::accent().resolved().rgba(), 0, 16);
    const QPixmap face = sharedPainting(key, size(), ratio, [&](QPainter &facePainter) {
        paintCardFace(facePainter, QRectF(rect()), background, borderColor, focused);
    });
    drawCardFace(painter, face, cardRadius,
                 background.alpha() == 255 && (!focused || VarnoColor::accent().resolved().alpha() == 255));
}
