#pragma once

#include <QAbstractItemView>
#include <QString>
#include <QTreeWidget>

// What the program's lists show beyond their rows: why an empty list is empty, and the
// whole text of a cell that is cut.
namespace hivewise::ui {

// Shows `text` in the middle of `view` while it has no rows; an empty text shows nothing.
// Can be called again to change the text.
void SetEmptyListText(QAbstractItemView* view, const QString& text);
// The text shown while `view` is empty; empty when none was set.
QString EmptyListText(const QAbstractItemView* view);
// Whether that text is up now (the list is empty and has one).
bool EmptyListTextShown(const QAbstractItemView* view);

// Cells whose text does not fit their column show the whole text as their tooltip (cells
// with a tooltip of their own keep it).
void ShowCutCellsInTooltips(QAbstractItemView* view);

// Every column as wide as its header and its rows, the last one taking the rest; called
// again after the rows change.
void FitColumnsToContent(QTreeWidget* list);

}  // namespace hivewise::ui
