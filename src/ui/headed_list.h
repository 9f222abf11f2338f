#pragma once

#include <QHeaderView>
#include <QListView>

// A one-column list under a clickable header, drawn as a tree view without branches draws
// it, for lists of hundreds of thousands of rows of one height: a tree view keeps an item
// for every row, this list only its position.
namespace hivewise::ui {

class HeadedList : public QListView {
    Q_OBJECT

  public:
    explicit HeadedList(QWidget* parent = nullptr);

    QHeaderView* header() const { return header_; }
    // The width of the only column, which is the width every row is laid out at.
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);

    void setModel(QAbstractItemModel* model) override;
    // A row is as wide as the column, as in a tree view; right of it is no row.
    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;

  protected:
    // The header takes the top margin of the viewport, as a tree view's does.
    void updateGeometries() override;

  private:
    QHeaderView* header_ = nullptr;
    bool placingHeader_ = false;
};

}  // namespace hivewise::ui
