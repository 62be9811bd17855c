#pragma once

#include <memory>

class QMessageBox;
class QWidget;

// The alert that asks before quitting while recordings run.
namespace QuitAlert {

// Built but not shown: the message for n running recordings, the
// informative text, "Stop and Quit" as the default button and "Cancel" as
// the escape button.
std::unique_ptr<QMessageBox> make(int running, QWidget *parent = nullptr);
// Runs the alert modally; answers whether "Stop and Quit" was chosen.
bool run(int running, QWidget *parent = nullptr);

} // namespace QuitAlert
