#include "ui/qt_prompts.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include "app/main_window.h"
#include "ui/ansi_text.h"
#include "ui/status_line.h"

namespace hivewise::ui {

QString MessageCaption() {
    return QString::fromUtf8(kMainWindowTitle.data(), kMainWindowTitle.size());
}

QtPrompts::~QtPrompts() {
    // A wait cursor left on by an early return must not outlive its owner.
    while (waitDepth_ > 0)
        SetWaitCursor(false);
}

void QtPrompts::Message(const std::string& text, MessageIcon icon) {
    QMessageBox::Icon qtIcon = QMessageBox::Warning;
    switch (icon) {
        case MessageIcon::Info:
            qtIcon = QMessageBox::Information;
            break;
        case MessageIcon::Stop:
            qtIcon = QMessageBox::Critical;
            break;
        case MessageIcon::Warning:
            qtIcon = QMessageBox::Warning;
            break;
    }
    QMessageBox box(qtIcon, MessageCaption(), FromAnsi(text), QMessageBox::Ok, owner_);
    box.exec();
}

void QtPrompts::Notice(const std::string& text) {
    if (!ShowInStatusLines(owner_, FromAnsi(text))) Message(text, MessageIcon::Info);
}

bool QtPrompts::AskYesNo(const std::string& text) {
    QMessageBox box(QMessageBox::Question, MessageCaption(), FromAnsi(text),
                    QMessageBox::Yes | QMessageBox::No, owner_);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool QtPrompts::AskOkCancel(const std::string& text) {
    QMessageBox box(QMessageBox::Question, MessageCaption(), FromAnsi(text),
                    QMessageBox::Ok | QMessageBox::Cancel, owner_);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

std::optional<std::filesystem::path> QtPrompts::ChooseFolder(const std::string& title) {
    QString folder = QFileDialog::getExistingDirectory(owner_, FromAnsi(title), QString(),
                                                       QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return std::nullopt;
    // The host path in the file system's own encoding.
    return std::filesystem::path(QFile::encodeName(folder).toStdString());
}

void QtPrompts::SetWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++waitDepth_;
    } else if (waitDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --waitDepth_;
    }
}

}  // namespace hivewise::ui
