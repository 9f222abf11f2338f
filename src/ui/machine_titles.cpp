#include "ui/machine_titles.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>

namespace hivewise::ui {
namespace {

class MachineTitles : public QObject {
  public:
    explicit MachineTitles(std::function<std::string()> machineName)
        : machineName_(std::move(machineName)) {
        if (qApp) qApp->installEventFilter(this);
    }
    ~MachineTitles() override {
        if (qApp) qApp->removeEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show && event->type() != QEvent::WindowTitleChange)
            return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog || qobject_cast<QMessageBox*>(dialog) || qobject_cast<QFileDialog*>(dialog))
            return false;
        // An untitled window (the full backup's progress) stays untitled.
        if (dialog->windowTitle().isEmpty()) return false;
        QString titled =
            WithMachineName(dialog->windowTitle(), QString::fromStdString(machineName_()));
        if (titled != dialog->windowTitle()) dialog->setWindowTitle(titled);
        return false;
    }

  private:
    std::function<std::string()> machineName_;
};

}  // namespace

QString WithMachineName(const QString& title, const QString& machineName) {
    if (machineName.isEmpty()) return title;
    QString suffix = " - " + machineName;
    return title.endsWith(suffix) ? title : title + suffix;
}

std::unique_ptr<QObject> MakeMachineTitles(std::function<std::string()> machineName) {
    return std::make_unique<MachineTitles>(std::move(machineName));
}

}  // namespace hivewise::ui
