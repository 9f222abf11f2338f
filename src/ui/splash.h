#pragma once

#include <QPixmap>
#include <QPointer>
#include <QSplashScreen>

#include "app/startup.h"

// The start picture. Qt's widgets live on the user-interface thread, so the splash is a
// splash screen shown there; the class keeps the contract of the splash thread.
namespace hivewise::ui {

// The 622 x 320 start picture.
QPixmap DrawSplashPicture();

class CSplashThread : public Splash {
  public:
    CSplashThread() = default;
    ~CSplashThread() override;

    bool Create() override;
    void WaitUntilShown() override;
    void Close() override;

    // The splash window while it is up; null before Create and after Close.
    QSplashScreen* Window() const { return window_; }

  private:
    QPointer<QSplashScreen> window_;
};

}  // namespace hivewise::ui
