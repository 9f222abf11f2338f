#pragma once

#include <QWidget>

#include "platform/machine/machine.h"
#include "ui/qt_prompts.h"

// Opens the system tool of an "Advanced Options" area (helper objects, startup programs,
// installed programs) modally over `parent`; its restore dialog opens from within it.
namespace hivewise::ui {

// False for an area without a manager.
bool OpenSystemTool(int area, Machine& machine, QtPrompts& prompts, QWidget* parent);

}  // namespace hivewise::ui
