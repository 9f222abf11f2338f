#include "ui/qt_host_services.h"

#include <signal.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include "platform/machine/prefix_lock.h"
#include "ui/ansi_text.h"
#include "ui/qt_prompts.h"

namespace hivewise::ui {

namespace {

// Windows and event pumps belong to the user-interface thread.
bool OnUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Whether a .exe or .com file is a program Wine can start: an MZ header whose e_lfanew
// points at a PE signature. Wine would fail on anything else after it had been started,
// where the failure can no longer be told to the user.
bool LooksStartable(const QString& path) {
    QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != "exe" && suffix != "com") return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QByteArray header = file.read(64);
    if (header.size() < 64 || !header.startsWith("MZ")) return suffix == "com" && header.size() > 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(header.constData());
    quint32 offset = bytes[0x3c] | (bytes[0x3d] << 8) | (bytes[0x3e] << 16) |
                     (static_cast<quint32>(bytes[0x3f]) << 24);
    // The header lies near the start; a far offset is no PE file we know.
    if (offset < 64 || offset > 64 * 1024 || !file.seek(offset)) return false;
    return file.read(4) == QByteArray("PE\0\0", 4);
}

}  // namespace

void QtHostServices::ShowMessage(const std::string& text) {
    if (!OnUiThread()) {
        // Shown by the window's thread while this one waits, as a message box would.
        QCoreApplication* app = QCoreApplication::instance();
        if (app) {
            QMetaObject::invokeMethod(
                app, [this, text] { ShowMessage(text); }, Qt::BlockingQueuedConnection);
        }
        return;
    }
    QMessageBox box(QMessageBox::Warning, MessageCaption(), FromAnsi(text), QMessageBox::Ok,
                    owner_);
    box.exec();
}

bool QtHostServices::IsWindowsProgram(const std::string& hostPath) {
    QString suffix = QFileInfo(QFile::decodeName(hostPath.c_str())).suffix().toLower();
    return suffix == "exe" || suffix == "com" || suffix == "bat" || suffix == "cmd";
}

bool QtHostServices::Launch(const std::string& hostPathOrUrl, const std::string& parameters,
                            bool wait, int timeoutMs) {
    if (hostPathOrUrl.empty()) return false;
    if (hostPathOrUrl.find("://") != std::string::npos) {
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(hostPathOrUrl)));
    }
    if (!QFileInfo::exists(QFile::decodeName(hostPathOrUrl.c_str()))) return false;
    if (IsWindowsProgram(hostPathOrUrl)) {
        if (!LooksStartable(QFile::decodeName(hostPathOrUrl.c_str()))) return false;
        return LaunchWithWine(hostPathOrUrl, parameters, wait, timeoutMs);
    }
    // A document opens in the desktop's program for its type; there is nothing to wait on.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(hostPathOrUrl.c_str())));
}

bool QtHostServices::LaunchWithWine(const std::string& program, const std::string& parameters,
                                    bool wait, int timeoutMs) {
    QString wine = QStandardPaths::findExecutable("wine");
    if (wine.isEmpty()) return false;
    QStringList arguments{QFile::decodeName(program.c_str())};
    arguments += QProcess::splitCommand(FromAnsi(parameters));

    QProcess process;
    process.setProgram(wine);
    process.setArguments(arguments);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", QFile::decodeName(prefix_.c_str()));
    process.setProcessEnvironment(env);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) return false;
    if (!wait || pid <= 0) {
        // Wine owns the prefix from now on, before its server shows.
        NoteWineStarted(prefix_, static_cast<long>(pid));
        return true;
    }
    // Bounded wait that keeps the window alive; a program that never ends is left running.
    QElapsedTimer clock;
    clock.start();
    bool pump = OnUiThread();
    while (::kill(static_cast<pid_t>(pid), 0) == 0 && clock.elapsed() < timeoutMs) {
        if (pump) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(50);
    }
    if (::kill(static_cast<pid_t>(pid), 0) == 0) NoteWineStarted(prefix_, static_cast<long>(pid));
    return true;
}

void QtHostServices::PumpEvents(int maxEvents) {
    // Another thread's pump would do nothing for the window: Qt dispatches only the
    // events of the calling thread.
    if (!OnUiThread()) return;
    // Qt has no count of pending events; a short time bound serves the same purpose.
    QCoreApplication::processEvents(QEventLoop::AllEvents, maxEvents > 0 ? maxEvents : 1);
}

}  // namespace hivewise::ui
