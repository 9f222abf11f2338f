#pragma once

#include <QPointer>
#include <QWidget>

#include "app/user_prompts.h"

// The user prompts of the desktop program: message boxes, questions, the folder chooser
// and the wait cursor, owned by the window that is in front.
namespace hivewise::ui {

class QtPrompts : public AppPrompts {
  public:
    explicit QtPrompts(QWidget* owner = nullptr) : owner_(owner) {}
    ~QtPrompts() override;

    // The window message boxes are owned by; null for none.
    void SetOwner(QWidget* owner) { owner_ = owner; }
    QWidget* Owner() const { return owner_; }

    using AppPrompts::Message;
    void Message(const std::string& text, MessageIcon icon) override;
    // In the status lines of the owner and the windows under it; a box when none has one.
    void Notice(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    // The host folder chosen; nothing when the user cancels.
    std::optional<std::filesystem::path> ChooseFolder(const std::string& title) override;
    void SetWaitCursor(bool on) override;

  private:
    QPointer<QWidget> owner_;
    int waitDepth_ = 0;
};

// The caption of every message box: the program's title.
QString MessageCaption();

}  // namespace hivewise::ui
