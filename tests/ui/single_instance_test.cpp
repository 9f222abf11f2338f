#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

QProcessEnvironment ProgramEnvironment(const QString& runtime, const QString& home,
                                       const std::filesystem::path& prefix) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("WINEPREFIX", QString::fromStdString(prefix.string()));
    return env;
}

TEST(SingleInstanceTest, SecondLaunchEndsAtOnceWhileTheFirstRuns) {
    QTemporaryDir runtime;
    QTemporaryDir home;
    ASSERT_TRUE(runtime.isValid() && home.isValid());
    TempPrefix prefix;
    prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
    prefix.UserReg("\n[Software] 1700000000\n");
    QProcessEnvironment env = ProgramEnvironment(runtime.path(), home.path(), prefix.Dir());

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(HIVEWISE_UI_PATH, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    // The first run's defaults in user.reg show that the first instance is well under way.
    bool started = WaitFor(
        [&] {
            return prefix.Read("user.reg").find("\"CheckAllItems\"=\"1\"") != std::string::npos ||
                   first.state() == QProcess::NotRunning;
        },
        20000);
    ASSERT_TRUE(started);
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(HIVEWISE_UI_PATH, {});
    EXPECT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running) << "the first instance is not disturbed";

    first.kill();
    EXPECT_TRUE(first.waitForFinished(10000));
    if (second.state() != QProcess::NotRunning) {
        second.kill();
        second.waitForFinished(5000);
    }
}

}  // namespace
}  // namespace hivewise::testing
