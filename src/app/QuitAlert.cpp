#include "QuitAlert.h"

#include "StatusTexts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace QuitAlert {

std::unique_ptr<QMessageBox> make(int running, QWidget *parent)
{
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setWindowTitle(QStringLiteral("Tivolux Recorder"));
    alert->setIcon(QMessageBox::Warning);
    alert->setText(StatusTexts::quitMessage(running));
    alert->setInformativeText(StatusTexts::quitInformativeText());
    QPushButton *stop = alert->addButton(QStringLiteral("Stop and Quit"), QMessageBox::AcceptRole);
    QPushButton *cancel = alert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    alert->setDefaultButton(stop);
    alert->setEscapeButton(cancel);
    return alert;
}

bool run(int running, QWidget *parent)
{
    const auto alert = make(running, parent);
    if (parent) {
        parent->activateWindow();
        parent->raise();
    }
    alert->exec();
    return alert->clickedButton() == alert->defaultButton();
}

} // namespace QuitAlert
