#include "EditCommands.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMetaObject>

namespace EditCommands {

namespace {

const char *slotName(Command command)
{
    switch (command) {
    case Command::Undo:
        return "undo";
    case Command::Cut:
        return "cut";
    case Command::Copy:
        return "copy";
    case Command::Paste:
        return "paste";
    case Command::SelectAll:
        return "selectAll";
    }
    return "";
}

// Labels have no edit slots; their selection is copied and selected here.
bool sendToLabel(QLabel *label, Command command)
{
    if (!(label->textInteractionFlags() & Qt::TextSelectableByMouse))
        return false;
    if (command == Command::Copy && label->hasSelectedText()) {
        QGuiApplication::clipboard()->setText(label->selectedText());
        return true;
    }
    if (command == Command::SelectAll) {
        label->setSelection(0, int(label->text().size()));
        return true;
    }
    return false;
}

} // namespace

bool send(Command command)
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus)
        return false;
    if (auto *label = qobject_cast<QLabel *>(focus))
        return sendToLabel(label, command);
    const QByteArray signature = QByteArray(slotName(command)) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) < 0)
        return false;
    return QMetaObject::invokeMethod(focus, slotName(command));
}

} // namespace EditCommands
