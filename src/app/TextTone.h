#pragma once

#include <QColor>

class QPalette;

// The few colours the interface writes text in, named by what they mean
// rather than by their value, so that light and dark palettes both read well.
enum class TextTone { Label, Secondary, Red, Orange };

// The colour of a tone on the given palette: label text as the palette has
// it, secondary text blended towards the background, and a red and orange
// dark enough to read on a light background and bright enough on a dark one.
QColor colourFor(TextTone tone, const QPalette &palette);
