#include "ElidingLabel.h"

#include <QResizeEvent>

ElidingLabel::ElidingLabel(Qt::TextElideMode mode, QWidget *parent)
    : QLabel(parent)
    , m_mode(mode)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void ElidingLabel::setFullText(const QString &text)
{
    m_fullText = text;
    updateShownText();
    updateGeometry();
}

QSize ElidingLabel::minimumSizeHint() const
{
    const QSize hint = QLabel::minimumSizeHint();
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 4, hint.height()};
}

QSize ElidingLabel::sizeHint() const
{
    const QSize hint = QLabel::sizeHint();
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(m_fullText) + margins.left() + margins.right(), hint.height()};
}

void ElidingLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateShownText();
}

void ElidingLabel::updateShownText()
{
    const QString shown = fontMetrics().elidedText(m_fullText, m_mode, contentsRect().width());
    setText(shown);
    setToolTip(shown == m_fullText ? QString() : m_fullText);
}
