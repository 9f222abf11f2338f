#pragma once

#include <QDialog>
#include <array>

#include "app/advanced_options.h"
#include "ui/clickable_area.h"

// The "Advanced Options" window: four areas, each opening a system tool.
namespace hivewise::ui {

class AdvancedOptionsView : public QDialog {
    Q_OBJECT

  public:
    explicit AdvancedOptionsView(AdvancedOptions& logic, QWidget* parent = nullptr);

    ClickableArea* Area(int area) const;

  private:
    AdvancedOptions& logic_;
    std::array<ClickableArea*, kAdvancedAreaCount> areas_{};
};

}  // namespace hivewise::ui
