#pragma once

#include <QIcon>

// The application's icon, the same as its menu entry's: the installed theme
// icon "tivolux-recorder" where the desktop can draw it, else the same
// picture (a screen with a recording dot) drawn here.
namespace ApplicationIcon {

inline constexpr char kThemeName[] = "tivolux-recorder";

QIcon icon();
// The drawn picture alone.
QIcon drawn();

} // namespace ApplicationIcon
