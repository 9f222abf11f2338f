#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/advanced_options.h"
#include "app/single_instance.h"
#include "app_fixture.h"
#include "platform/machine/string_table.h"
#include "scan/scan_driver.h"

namespace hivewise::testing {
namespace {

class FakeSplash : public Splash {
  public:
    explicit FakeSplash(std::vector<std::string>* log) : log_(log) {}
    bool Create() override {
        log_->push_back("splash-create");
        return canCreate;
    }
    void WaitUntilShown() override { log_->push_back("splash-wait"); }
    void Close() override { log_->push_back("splash-close"); }
    bool canCreate = true;

  private:
    std::vector<std::string>* log_;
};

class StartUpTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        prompts.log = &log;
    }
    std::vector<std::string> log;
    FakeSplash splash{&log};
};

TEST_F(StartUpTest, RunsTheStepsInOrder) {
    StartUp startUp(prompts, splash);
    ASSERT_TRUE(startUp.CheckSingleInstance([&] {
        log.push_back("lock");
        return true;
    }));
    ASSERT_TRUE(startUp.ShowSplash());
    ASSERT_EQ(startUp.FirstRun(*machine), Settings::FirstRunResult::DefaultsWritten);
    Settings(*machine).Write("Help Files", "0");

    MainWindow window(*machine, prompts);
    auto step = [&](const char* name) { return [this, name] { log.push_back(name); }; };
    MainWindowInitSteps steps{
        .systemInformation =
            [&] {
                log.push_back("sysinfo");
                return std::string("Windows XP");
            },
        .loadIgnoreList = step("ignore-list"),
        .sizeAndCentre = step("size"),
        .attachTooltips = step("tooltips"),
        .showTicks =
            [&] {
                // The window has read its ticks by now.
                log.push_back(window.Ticked(7) ? "ticks-wrong" : "ticks");
            },
        .setUpLists = step("lists"),
        .showStartPage = step("start-page"),
    };
    startUp.InitialiseMainWindow(window, steps);
    EXPECT_EQ(log,
              (std::vector<std::string>{"lock", "splash-create", "sysinfo", "ignore-list", "size",
                                        "wait-on", "wait-off", "tooltips", "ticks", "lists",
                                        "splash-wait", "splash-close", "start-page"}));
    EXPECT_EQ(window.SystemDescription(), "Windows XP");
    EXPECT_EQ(window.View(), MainView::StartPage);
    EXPECT_TRUE(prompts.messages.empty());
    // The first run's defaults are on disk before the window opens.
    EXPECT_NE(prefix.Read("user.reg").find("\"Version\"=\"6.2\""), std::string::npos);

    // A splash already closed is not closed twice.
    startUp.CloseSplash();
    EXPECT_EQ(log.back(), "start-page");
}

TEST_F(StartUpTest, SplashFailureStopsWithAMessage) {
    splash.canCreate = false;
    StartUp startUp(prompts, splash);
    EXPECT_FALSE(startUp.ShowSplash());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, "Failed to create splash screen");
    EXPECT_EQ(prompts.messages[0].second, MessageIcon::Stop);
    startUp.CloseSplash();  // nothing to close
    EXPECT_EQ(log.back(), "message:Failed to create splash screen");
}

TEST_F(StartUpTest, FailedSaveIsShownOncePerAction) {
    Reload({.lockPrefix = false, .readOnly = true});
    StartUp startUp(prompts, splash);
    EXPECT_EQ(startUp.FirstRun(*machine), Settings::FirstRunResult::DefaultsWritten);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].second, MessageIcon::Stop);
    EXPECT_FALSE(prompts.messages[0].first.empty());
    EXPECT_EQ(prefix.Read("user.reg").find("Hivewise"), std::string::npos);
    EXPECT_FALSE(startUp.Exit(*machine));
    EXPECT_EQ(prompts.messages.size(), 2u);
}

TEST_F(StartUpTest, CompleteScanEstimateCountsTypeLibsAndSoftwareValues) {
    prefix.SystemReg(R"(
[Software\\Classes\\TypeLib\\{A}] 1700000000
[Software\\Classes\\TypeLib\\{B}] 1700000000
[Software\\Classes\\TypeLib\\{B}\\1.0] 1700000000
"x"="1"
[Software\\Vendor] 1700000000
"a"="1"
"b"="2"
[Software\\Vendor\\Deep\\Deeper] 1700000000
"c"="3"
[System\\Other] 1700000000
"ignored"="1"
)");
    prefix.UserReg(R"(
[Software\\Mine] 1700000000
"u1"="1"
[Software\\Mine\\Sub] 1700000000
"u2"="1"
"u3"="1"
[Environment] 1700000000
"ignored"="1"
)");
    Reload();
    RegistryAccess reg(*machine);
    // Two type libraries; the user's 3 values; the machine's 4 (one under TypeLib).
    EXPECT_EQ(CompleteScanEstimate(reg), 2u + 3u + 4u);
}

TEST(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstEnds) {
    TempPrefix dir;
    auto path = dir.Dir() / "hivewise.lock";
    auto first = std::make_unique<SingleInstanceLock>();
    ASSERT_EQ(first->Acquire(path), SingleInstanceLock::Result::Acquired);
    SingleInstanceLock second;
    EXPECT_EQ(second.Acquire(path), SingleInstanceLock::Result::HeldElsewhere);
    first.reset();
    EXPECT_EQ(second.Acquire(path), SingleInstanceLock::Result::Acquired);

    // A planted link is not followed.
    std::filesystem::create_symlink(dir.Dir() / "target", dir.Dir() / "link.lock");
    SingleInstanceLock third;
    EXPECT_EQ(third.Acquire(dir.Dir() / "link.lock"), SingleInstanceLock::Result::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(dir.Dir() / "target"));

    EXPECT_EQ(DefaultInstanceLockPath({{"XDG_RUNTIME_DIR", "/run/user/7"}}),
              "/run/user/7/hivewise.lock");
}

TEST(AdvancedOptionsTest, AreasCarryTheirIntroductionsAndOpenOnlyWhenWired) {
    AdvancedOptions options;
    for (int area = 0; area < kAdvancedAreaCount; ++area) {
        EXPECT_EQ(AdvancedOptions::IntroductionEntry(area), 118 + area);
        EXPECT_FALSE(AdvancedOptions::Introduction(area).empty());
        EXPECT_FALSE(options.Click(area));
    }
    EXPECT_NE(AdvancedOptions::Introduction(kBhoArea).find("Browser Helper Objects"),
              std::string::npos);
    EXPECT_NE(AdvancedOptions::Introduction(kStartupArea).find("set to start up"),
              std::string::npos);
    EXPECT_NE(AdvancedOptions::Introduction(kFullBackupArea).find("create and restore"),
              std::string::npos);
    int opened = 0;
    options.SetAction(kFullBackupArea, [&] { ++opened; });
    EXPECT_TRUE(options.Click(kFullBackupArea));
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(options.Click(4));
    EXPECT_FALSE(options.Click(-1));
    EXPECT_EQ(AdvancedOptions::Title(kFullBackupArea), "Full Registry Backup");
}

}  // namespace
}  // namespace hivewise::testing
