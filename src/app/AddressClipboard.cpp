#include "AddressClipboard.h"

#include "StatusTexts.h"

#include <QClipboard>
#include <QGuiApplication>

namespace AddressClipboard {

void copy(const std::optional<QString> &address)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(StatusTexts::address(address));
}

} // namespace AddressClipboard
