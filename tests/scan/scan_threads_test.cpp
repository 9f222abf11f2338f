// The registry's threads contract, run under ThreadSanitizer by scripts/tsan-test: a scan
// reads the registry on its thread while the window's thread writes and saves settings.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/registry/registry_access.h"
#include "platform/temp_prefix.h"
#include "scan/scan_driver.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

// Reads every key and value below HKLM\Software, as the whole-registry scan does.
void WalkSoftware(ScanContext& context) {
    RegistryAccess& registry = context.Registry();
    std::vector<RegHandle> stack;
    RegHandle top;
    if (registry.OpenKey(kHkeyLocalMachine, "Software", kKeyAllAccess, &top) != kErrorSuccess)
        return;
    stack.push_back(top);
    std::string name, data;
    while (!stack.empty() && context.Continue()) {
        RegHandle key = stack.back();
        stack.pop_back();
        uint32_t type;
        for (uint32_t i = 0; registry.EnumValue(key, i, &name, 16383, &type, &data) == 0; ++i) {
        }
        for (uint32_t i = 0; registry.EnumKey(key, i, &name) == 0; ++i) {
            RegHandle child;
            if (registry.OpenKey(key, name, kKeyAllAccess, &child) == 0) stack.push_back(child);
        }
        registry.CloseKey(key);
    }
    while (!stack.empty()) {
        registry.CloseKey(stack.back());
        stack.pop_back();
    }
}

// The window: when it hears that the scan ended, the scan's settings must be written.
class Window : public ScanWindow {
  public:
    explicit Window(Machine& machine) : registry_(machine) {}
    void ClearResults() override {}
    void ScanMessage(const std::string&) override { ended.store(true); }
    void ScanFault(const std::string&) override {}
    void ShowResultsView(const std::vector<ResultsItem>&, int) override {
        std::string text;
        settingsWrittenFirst.store(registry_.ReadSetting("Items Found", &text) && text == "0");
        ended.store(true);
    }
    std::atomic<bool> ended{false};
    std::atomic<bool> settingsWrittenFirst{false};

  private:
    RegistryAccess registry_;
};

TEST(ScanThreads, ScanReadsWhileTheWindowWritesSettings) {
    TempPrefix prefix;
    std::string system = "\n[Software\\\\Wine\\\\Drives] 1700000000\n";
    for (int k = 0; k < 300; ++k) {
        system += "\n[Software\\\\Vendor\\\\App" + std::to_string(k) + "] 1700000000\n";
        for (int v = 0; v < 10; ++v)
            system += "\"v" + std::to_string(v) + "\"=\"C:\\\\gone\\\\x.dll\"\n";
    }
    prefix.SystemReg(system);
    prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n\"Items Found\"=\"7\"\n");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();

    ScannerTable table = BuiltInScanners();
    // Only the test's own walk in the complete scan: it reads every key and finds nothing.
    table[13] = {WalkSoftware};
    ResultStore results;
    ScanDriver driver(*machine, results, table);
    Window window(*machine);
    driver.SetWindow(&window);
    driver.SetIntegrityDelay(std::chrono::milliseconds(0));
    std::array<bool, kSectionCount> ticks{};
    for (int id : {3, 4, 5, 6, 7, 13})
        ticks[static_cast<size_t>(id)] = true;
    ASSERT_TRUE(driver.Start(ticks, 0));

    RegistryAccess registry(*machine);
    int writes = 0;
    while (driver.Running() || writes < 20) {
        registry.WriteSetting("CheckAllItems", writes % 2 ? "1" : "0");
        std::string text;
        registry.ReadSetting("CheckAllItems", &text);
        if (machine->HasUnsavedChanges()) machine->Flush();
        ++writes;
    }
    driver.Join();
    EXPECT_TRUE(window.ended.load());
    EXPECT_TRUE(window.settingsWrittenFirst.load());
    std::string text;
    ASSERT_TRUE(registry.ReadSetting("Items Found", &text));
    EXPECT_EQ(text, "0");
    EXPECT_TRUE(machine->Flush().ok);
}

}  // namespace
}  // namespace hivewise
