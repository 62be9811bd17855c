#pragma once

#include <QString>
#include <optional>

// The texts of the tray item, its menu and the quit alert that depend on the
// numbers of running (n) and scheduled (s) recordings and on the address.
namespace StatusTexts {

// Stands in for the address wherever there is none.
inline constexpr char16_t kNoAddress[] = u"—";

QString address(const std::optional<QString> &address);
// "Tivolux Recorder · " and the address.
QString toolTip(const std::optional<QString> &address);
// "Not recording", "Recording 1 programme" or "Recording n programmes",
// followed by " · s scheduled" when s is at least 1.
QString statusLine(int running, int scheduled);
// "A recording is still running." or "n recordings are still running.".
QString quitMessage(int running);
QString quitInformativeText();

} // namespace StatusTexts
