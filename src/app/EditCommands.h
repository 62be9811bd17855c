#pragma once

// The Edit menu's commands, sent to whichever widget has the keyboard focus
// when it can take them (text fields and selectable labels).
namespace EditCommands {

enum class Command { Undo, Cut, Copy, Paste, SelectAll };

// Answers whether the focused widget took the command.
bool send(Command command);

} // namespace EditCommands
