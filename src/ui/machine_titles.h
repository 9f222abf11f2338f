#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

// The titles of the program's dialogs, each followed by the name of the machine it works
// on, so that windows of two machines (or of a machine and its tools) are told apart.
namespace hivewise::ui {

// Watches every dialog of the program while the returned object lives; `machineName`
// gives the name (UTF-8). Message boxes and the folder chooser keep their own titles.
std::unique_ptr<QObject> MakeMachineTitles(std::function<std::string()> machineName);

// `title` with the machine's name after it, once.
QString WithMachineName(const QString& title, const QString& machineName);

}  // namespace hivewise::ui
