#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Everything the windows' logic asks of the user: message boxes with an icon, Yes/No
// questions, the folder chooser and the wait cursor. Engines ask nothing: they return
// results, and the window logic shows the fixed texts.
namespace hivewise {

// The message boxes a window's logic shows. The desktop program, the command line and
// the tests each provide one.
class UserPrompts {
  public:
    virtual ~UserPrompts() = default;
    // A plain message box with an OK button.
    virtual void Message(const std::string& text) = 0;
    // Word that something went well: it asks nothing of the user. A front end with a
    // status line shows it there; others show it as a message.
    virtual void Notice(const std::string& text) { Message(text); }
    // A question with Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // A question with OK and Cancel, Cancel the default (Enter and Escape cancel); true
    // for OK. A front end without such a box asks Yes or No.
    virtual bool AskOkCancel(const std::string& text) { return AskYesNo(text); }
};

enum class MessageIcon {
    Info,
    Stop,
    Warning,
};

class AppPrompts : public UserPrompts {
  public:
    // A message box with an OK button and the given icon.
    virtual void Message(const std::string& text, MessageIcon icon) = 0;
    // Plain messages of the windows' logic show the warning icon, as an OK box without
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
