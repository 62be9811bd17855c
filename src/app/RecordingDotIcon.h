#pragma once

#include <QColor>
#include <QIcon>

// The tray item's icon: a hollow recording dot while nothing records, a
// filled red dot while something does. The filled dot comes from the icon
// theme ("media-record") when the theme has one. Themes have no hollow
// recording dot, and the panel's colour cannot be asked for, so the hollow
// one is drawn in a grey that reads on light and dark panels alike.
namespace RecordingDotIcon {

inline constexpr char kRecordingThemeName[] = "media-record";

QIcon icon(bool recording);
// The drawn dot, used where the theme has none.
QIcon drawn(bool filled, const QColor &colour);
QColor recordingRed();
QColor idleGrey();

} // namespace RecordingDotIcon
