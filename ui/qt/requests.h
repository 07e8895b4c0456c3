// The requests that wait for the user, shown without blocking the GUI thread: message boxes,
// file dialogs and popup menus. Each keeps its promise when the user answers, and with "no
// answer" when it goes away unanswered.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/runtime/command.h"

class QWidget;

namespace korawin::ui::qt {

// Opens the message box over parent (nullptr: on its own); returns it.
QWidget* OpenMessageBox(const MessageCommand& command, QWidget* parent);
// Opens the open or save dialog over parent; returns it.
QWidget* OpenFileDialog(const FileDialogCommand& command, QWidget* parent);
// Pops the menu up at the pointer; returns it.
QWidget* OpenPopup(const PopupCommand& command, QWidget* parent);
// A mask of description and pattern pairs ("Text files|*.Txt|All files|*.*") as name filters
// ("Text files (*.Txt)", "All files (*)").
QStringList NameFilters(const QString& mask);

}  // namespace korawin::ui::qt
