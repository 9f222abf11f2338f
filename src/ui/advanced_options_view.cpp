#include "ui/advanced_options_view.h"

#include <QGridLayout>

#include "ui/ansi_text.h"

namespace hivewise::ui {

AdvancedOptionsView::AdvancedOptionsView(AdvancedOptions& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setWindowTitle(FromAnsi(kAdvancedOptionsTitle));
    setModal(true);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 16, 16, 16);
    grid->setSpacing(12);
    constexpr std::array<AreaPicture, kAdvancedAreaCount> pictures{
        AreaPicture::Helpers, AreaPicture::Startup, AreaPicture::Programs, AreaPicture::FullBackup};
    for (int area = 0; area < kAdvancedAreaCount; ++area) {
        auto* widget =
            new ClickableArea(pictures[area], FromAnsi(AdvancedOptions::Title(area)),
                              FromAnsi(AdvancedOptions::Introduction(area)), this, 40, true);
        widget->setFixedSize(390, 140);
        areas_[area] = widget;
        connect(widget, &ClickableArea::clicked, this, [this, area] { logic_.Click(area); });
        grid->addWidget(widget, area / 2, area % 2);
    }
    setFixedSize(sizeHint());
}

ClickableArea* AdvancedOptionsView::Area(int area) const {
    return area >= 0 && area < kAdvancedAreaCount ? areas_[area] : nullptr;
}

}  // namespace hivewise::ui
