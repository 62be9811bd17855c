#pragma once

#include <QString>
#include <optional>

namespace AddressClipboard {

// Clears the clipboard and puts the address on it as plain text, or "—"
// when there is none.
void copy(const std::optional<QString> &address);

} // namespace AddressClipboard
