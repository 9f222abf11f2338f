#pragma once

#include <string>

// What the platform layer asks of the front end that runs it: message boxes, starting
// programs, and pumping the window's events. The desktop program, the command line and
// the tests each provide one.
namespace hivewise {

class HostServices {
  public:
    virtual ~HostServices() = default;
    // A plain message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // Starts a program or opens a document (a host path or an address). When `wait`
    // is set, waits for it to end, at most `timeoutMs`. Returns false when it could
    // not be started.
    virtual bool Launch(const std::string& hostPathOrUrl, const std::string& parameters, bool wait,
                        int timeoutMs) = 0;
    // Handles at most `maxEvents` waiting user-interface events.
    virtual void PumpEvents(int maxEvents) = 0;
};

// Does nothing and starts nothing; for headless use.
class NullHostServices : public HostServices {
  public:
    void ShowMessage(const std::string&) override {}
    bool Launch(const std::string&, const std::string&, bool, int) override { return false; }
    void PumpEvents(int) override {}
};

}  // namespace hivewise
