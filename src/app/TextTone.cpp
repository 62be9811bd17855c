#include "TextTone.h"

#include <QPalette>

namespace {

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Base).lightnessF() < 0.5;
}

QColor blend(const QColor &from, const QColor &to, double share)
{
    return QColor::fromRgbF(float(from.redF() * (1 - share) + to.redF() * share),
                            float(from.greenF() * (1 - share) + to.greenF() * share),
                            float(from.blueF() * (1 - share) + to.blueF() * share));
}

} // namespace

QColor colourFor(TextTone tone, const QPalette &palette)
{
    switch (tone) {
    case TextTone::Label:
        return palette.color(QPalette::Text);
    case TextTone::Secondary:
        return blend(palette.color(QPalette::Text), palette.color(QPalette::Base), 0.45);
    case TextTone::Red:
        return isDark(palette) ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x00, 0x15);
    case TextTone::Orange:
        return isDark(palette) ? QColor(0xff, 0x9f, 0x0a) : QColor(0xb3, 0x5c, 0x00);
    }
    return palette.color(QPalette::Text);
}
