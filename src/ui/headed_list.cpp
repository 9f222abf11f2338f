#include "ui/headed_list.h"

#include <algorithm>

namespace hivewise::ui {

HeadedList::HeadedList(QWidget* parent)
    : QListView(parent), header_(new QHeaderView(Qt::Horizontal, this)) {
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(false);
    setUniformItemSizes(true);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header_->setSectionsClickable(true);
    header_->setStretchLastSection(false);
}

int HeadedList::columnWidth(int column) const {
    return header_->sectionSize(column);
}

void HeadedList::setColumnWidth(int column, int width) {
    header_->resizeSection(column, width);
}

void HeadedList::setModel(QAbstractItemModel* model) {
    header_->setModel(model);
    QListView::setModel(model);
    updateGeometries();
}

QRect HeadedList::visualRect(const QModelIndex& index) const {
    QRect rect = QListView::visualRect(index);
    if (rect.isValid()) rect.setWidth(std::min(rect.width(), columnWidth(0)));
    return rect;
}

QModelIndex HeadedList::indexAt(const QPoint& point) const {
    QModelIndex index = QListView::indexAt(point);
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void HeadedList::updateGeometries() {
    // Setting the margins resizes the viewport, which asks for the geometries again.
    if (!placingHeader_) {
        placingHeader_ = true;
        const int height = header_->isHidden() ? 0 : header_->sizeHint().height();
        setViewportMargins(0, height, 0, 0);
        const QRect area = viewport()->geometry();
        header_->setGeometry(area.left(), area.top() - height, area.width(), height);
        placingHeader_ = false;
    }
    QListView::updateGeometries();
}

}  // namespace hivewise::ui
