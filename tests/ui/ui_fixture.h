#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"

namespace hivewise::testing {

// Answers every message box that opens while it lives with its default button, and
// keeps the texts, so that a view's real prompts never block a test.
class MessageBoxCloser {
  public:
    MessageBoxCloser() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            texts.push_back(box->text().toStdString());
            QAbstractButton* button = box->defaultButton();
            if (!button && !box->buttons().isEmpty()) button = box->buttons().first();
            if (button) {
                button->click();
            } else {
                box->close();
            }
        });
        timer_.start();
    }

    std::vector<std::string> texts;

  private:
    QTimer timer_;
};

// Processes events until `done` holds or `ms` milliseconds passed; returns `done()`.
inline bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// The settings key as the first run leaves it, with some sections switched off.
inline constexpr const char* kSettingsHive = R"(
[Software] 1700000000

[Software\\Hivewise] 1700000000
"Registry Integrity"="1"
"ActiveX/Classes Section"="1"
"Program ID Section"="0"
"Add Remove Programs"="1"
"Windows Fonts"="0"
"Shared Program Files"="1"
"Help Files"="yes"
"Startup Programs"="1"
"System Services"="1"
"VXD Section"="1"
"File Associations"="1"
"Sounds Section"="1"
"Complete Registry Scan"="01"
"Invalid Shortcuts"="1"
"Application Paths"="1"
"Generate Log"="1"
"Log File Path"="C:\\Program Files\\Hivewise\\logs"
"AutoRun"="0"
"NoAutoBackup"="0"
"CheckAllItems"="1"
"Version"="6.2"

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Stale"="C:\\Program Files\\Gone\\gone.exe"
)";

// A prefix with those settings and the program's log folder, loaded without the lock.
class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
        prefix.UserReg(kSettingsHive);
        prefix.File("Program Files/Hivewise/logs/.keep");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

}  // namespace hivewise::testing
