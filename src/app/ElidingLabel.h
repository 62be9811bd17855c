#pragma once

#include <QLabel>

// A one-line label that shortens its text with an ellipsis where the text
// does not fit, at the chosen side or in the middle, and shows the whole
// text as its tooltip when it is shortened. text() is what is shown,
// fullText() the whole text.
class ElidingLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidingLabel(Qt::TextElideMode mode, QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateShownText();

    Qt::TextElideMode m_mode;
    QString m_fullText;
};
