#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "scan/user_prompts.h"

// Everything the desktop program's logic asks of the user: message boxes with an icon,
// Yes/No questions, the folder chooser and the wait cursor. It extends the scan's small
// prompt interface, so that one implementation serves every dialog.
namespace hivewise {

enum class MessageIcon {
    Info,
    Stop,
    Warning,
};

class AppPrompts : public UserPrompts {
  public:
    // A message box with an OK button and the given icon.
    virtual void Message(const std::string& text, MessageIcon icon) = 0;
    // Plain messages of the scan's dialogs show the warning icon, as an OK box without
    // a stated icon does on Windows.
    void Message(const std::string& text) final { Message(text, MessageIcon::Warning); }
    // The folder-browse dialog over the host's folders, titled `title`; nothing when
    // the user cancels.
    virtual std::optional<std::filesystem::path> ChooseFolder(const std::string& title) = 0;
    virtual void SetWaitCursor(bool on) = 0;
};

// Shows the wait cursor for as long as it lives.
class WaitCursor {
  public:
    explicit WaitCursor(AppPrompts& prompts) : prompts_(prompts) { prompts_.SetWaitCursor(true); }
    ~WaitCursor() { prompts_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    AppPrompts& prompts_;
};

}  // namespace hivewise
