#pragma once

#include <string>

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

}  // namespace hivewise
