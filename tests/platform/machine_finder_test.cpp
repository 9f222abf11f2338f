#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/fake_home.h"
#include "platform/machine/key_values.h"
#include "platform/machine/launcher_prefixes.h"
#include "platform/machine/machine_finder.h"
#include "platform/machine/registry_glance.h"
#include "platform/machine/sample_machine.h"
#include "platform/temp_prefix.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<FoundMachine>& machines) {
    std::vector<std::string> names;
    for (const FoundMachine& m : machines)
        names.push_back(std::string(MachineKindName(m.kind)) + ":" + m.name);
    return names;
}

TEST(KeyValuesTest, ReadsSteamFilesInBothForms) {
    auto current = ParseKeyValues(
        "\xEF\xBB\xBF// written by the client\n\"libraryfolders\"\n{\n\t\"0\"\n\t{\n"
        "\t\t\"path\"\t\t\"/home/a/Steam \\\"x\\\" \\\\y\"\n\t\t\"apps\"\n\t\t{\n\t\t}\n\t}\n}\n");
    ASSERT_TRUE(current);
    const KeyValue* folders = current->Find("LibraryFolders");
    ASSERT_TRUE(folders && folders->isBlock);
    ASSERT_EQ(folders->children.size(), 1u);
    EXPECT_EQ(folders->children[0].Text("path"), "/home/a/Steam \"x\" \\y");

    // The older form: bare words, values straight after the numbers, a platform condition.
    auto old = ParseKeyValues(
        "LibraryFolders {\n TimeNextStatsReport \"1612345678\"\n \"1\" \"/mnt/games\" [$LINUX]\n}");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->Find("libraryfolders")->Text("1"), "/mnt/games");
    EXPECT_EQ(old->Find("libraryfolders")->Text("TimeNextStatsReport"), "1612345678");
    EXPECT_EQ(old->Find("libraryfolders")->Text("missing"), "");
}

TEST(KeyValuesTest, RefusesMalformedText) {
    for (std::string_view text :
         {"\"a\" {", "\"a\" \"b", "\"a\"", "\"a\" { \"b\" }", "}", "\"a\" { } }"}) {
        EXPECT_FALSE(ParseKeyValues(text)) << text;
    }
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "a {";
    EXPECT_FALSE(ParseKeyValues(deep));
    EXPECT_TRUE(ParseKeyValues(""));
}

TEST(RegistryGlanceTest, StatesTheVersionAsTheLoadedMachineDoes) {
    FakeHome home;
    home.Prefix("p", "Microsoft Windows XP", "5.1", "2600");
    auto facts = GlanceVersionFacts(home.Dir() / "p" / "system.reg");
    ASSERT_TRUE(facts);
    EXPECT_EQ(DescribeWindows(*facts), "Microsoft Windows XP (5.1.2600)");
    EXPECT_EQ(RegistryFilesSize(home.Dir() / "p"),
              fs::file_size(home.Dir() / "p" / "system.reg") +
                  fs::file_size(home.Dir() / "p" / "user.reg"));

    home.Write("bad/system.reg", "not a registry\n[x");
    EXPECT_FALSE(GlanceVersionFacts(home.Dir() / "bad" / "system.reg"));
    EXPECT_FALSE(GlanceVersionFacts(home.Dir() / "missing" / "system.reg"));

    // A registry made by Wine itself: the same facts as loading the whole prefix.
    if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
    fs::path real = TestDataDir() / "wine-prefix";
    auto glanced = GlanceVersionFacts(real / "system.reg");
    auto loaded = Machine::Load(real, {.lockPrefix = false, .readOnly = true});
    ASSERT_TRUE(glanced && loaded.machine) << loaded.error;
    const VersionFacts& full = loaded.machine->Version();
    EXPECT_EQ(glanced->major, full.major);
    EXPECT_EQ(glanced->minor, full.minor);
    EXPECT_EQ(glanced->build, full.build);
    EXPECT_EQ(glanced->productName, full.productName);
    EXPECT_EQ(glanced->servicePack, full.servicePack);
}

// Large registries are not read whole: the version keys are sought in the server's order,
// and a file in another order is read through instead; both must state the same facts.
TEST(RegistryGlanceTest, FindsTheVersionKeysAmongManyInAnyOrder) {
    const std::string header = TempPrefix::Header("REGISTRY\\\\Machine", "win64");
    const std::string nt =
        "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1699999999\n"
        "\"CurrentBuild\"=\"7601\"\n\"CurrentBuildNumber\"=\"7601\"\n"
        "\"CurrentVersion\"=\"6.1\"\n\"ProductName\"=\"Microsoft Windows 7\"\n"
        "\"CSDVersion\"=\"Service Pack 1\"\n";
    const std::string windows =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1699999999\n"
        "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n";
    auto keys = [](const char* parent, int count) {
        std::string text;
        char line[160];
        for (int i = 0; i < count; ++i) {
            std::snprintf(line, sizeof line,
                          "\n[Software\\\\%s\\\\Key%05d] 1699999999\n\"Value\"=\"%0*d\"\n", parent,
                          i, 40, i);
            text += line;
        }
        return text;
    };
    // "Windows" sorts before "Windows NT", and "WINDOWS_x" after both (as upper case).
    const std::string sorted = header + keys("Bench", 6000) +
                               "\n[Software\\\\Microsoft\\\\Windows] 1699999999\n\n" + windows +
                               "\n" + nt + "\n[Software\\\\Microsoft\\\\WINDOWS_x] 1699999999\n" +
                               keys("Zed", 6000);
    const std::string unsorted =
        header + "\n" + nt + keys("Zed", 6000) + "\n" + windows + keys("Bench", 6000);
    FakeHome home;
    home.Write("sorted/system.reg", sorted);
    home.Write("unsorted/system.reg", unsorted);
    for (const char* name : {"sorted", "unsorted"}) {
        auto facts = GlanceVersionFacts(home.Dir() / name / "system.reg");
        ASSERT_TRUE(facts) << name;
        EXPECT_EQ(DescribeWindows(*facts), "Microsoft Windows 7 Service Pack 1 (6.1.7601)") << name;
    }
}

class MachineFinderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string steam = home.Dir().string() + "/.local/share/Steam";
        const std::string second = home.Dir().string() + "/Games/SteamLibrary";
        // The native client, reached through its ~/.steam/steam link too.
        home.Write(".local/share/Steam/config/libraryfolders.vdf", LibraryFolders({steam, second}));
        home.Write(".local/share/Steam/steamapps/libraryfolders.vdf",
                   LibraryFolders({steam, second}));
        fs::create_directories(home.Dir() / ".steam");
        fs::create_directory_symlink(steam, home.Dir() / ".steam" / "steam");
        home.Write(".local/share/Steam/steamapps/appmanifest_1091500.acf",
                   AppManifest("1091500", "Cyberpunk 2077"));
        home.Prefix(".local/share/Steam/steamapps/compatdata/1091500/pfx");
        // A non-Steam game: no manifest, named by its id.
        home.Prefix(".local/share/Steam/steamapps/compatdata/3228582931/pfx");
        // A prefix Proton has not made yet.
        fs::create_directories(home.Dir() / ".local/share/Steam/steamapps/compatdata/70/pfx");
        // The second library: its game's manifest beside it.
        home.Write("Games/SteamLibrary/steamapps/appmanifest_220.acf",
                   AppManifest("220", "Half-Life 2"));
        home.Prefix("Games/SteamLibrary/steamapps/compatdata/220/pfx", "Microsoft Windows 7", "6.1",
                    "7601");

        home.Write(".local/share/bottles/bottles/Office/bottle.yml",
                   "Arch: win64\nCustom_Path: false\nEnvironment: Application\n"
                   "Name: Office 2010\nPath: Office\nRunner: soda-7.0-9\nDLL_Overrides: {}\n");
        home.Prefix(".local/share/bottles/bottles/Office");
        home.Write(".var/app/com.usebottles.bottles/data/bottles/bottles/Games/bottle.yml",
                   "Name: Flatpak Games\nPath: Games\n");
        home.Prefix(".var/app/com.usebottles.bottles/data/bottles/bottles/Games");

        home.Write(".config/lutris/games/the-witcher-3-1612345678.yml",
                   "game:\n  exe: /x/drive_c/witcher3.exe\n  prefix: " + home.Dir().string() +
                       "/Games/witcher\n  arch: win64\nsystem: {}\nwine:\n  version: "
                       "lutris-7.2\n");
        home.Prefix("Games/witcher");
        home.LutrisDatabase(".local/share/lutris/pga.db",
                            {{"The Witcher 3", "the-witcher-3-1612345678"}});

        home.Prefix(".PlayOnLinux/wineprefix/Notepad");
        home.Prefix(".cxoffice/Steam");
        home.Prefix(".wine");
    }

    FakeHome home;
};

TEST_F(MachineFinderTest, ListsEveryLaunchersPrefixesInOrder) {
    std::vector<FoundMachine> machines = FindMachines(home.Env(), RunningExecutable());
    EXPECT_EQ(Names(machines),
              (std::vector<std::string>{
                  "wine:Wine", "steam:3228582931", "steam:Cyberpunk 2077", "steam:Half-Life 2",
                  "bottles:Flatpak Games", "bottles:Office 2010", "lutris:The Witcher 3",
                  "playonlinux:Notepad", "crossover:Steam", "sample:sample machine"}));
    const FoundMachine& cyberpunk = machines[2];
    EXPECT_EQ(cyberpunk.path, home.Dir() / ".local/share/Steam/steamapps/compatdata/1091500/pfx");
    EXPECT_EQ(cyberpunk.windows, "Microsoft Windows 10 (10.0.19045)");
    EXPECT_EQ(cyberpunk.registryBytes, RegistryFilesSize(cyberpunk.path));
    EXPECT_FALSE(cyberpunk.wineRunning);
    EXPECT_EQ(machines[3].windows, "Microsoft Windows 7 (6.1.7601)");
    EXPECT_EQ(machines[6].path, home.Dir() / "Games" / "witcher");

    // The sample machine is offered before it is made, with the template's facts.
    const FoundMachine& sample = machines.back();
    EXPECT_EQ(sample.path, home.Dir() / "xdg" / "hivewise" / "sample-machine");
    EXPECT_FALSE(fs::exists(sample.path));
    EXPECT_NE(sample.windows, "");
    EXPECT_GT(sample.registryBytes, 0u);

    // WINEPREFIX comes first; a prefix listed twice keeps its first name.
    auto env = home.Env();
    env["WINEPREFIX"] = (home.Dir() / ".cxoffice" / "Steam").string();
    machines = FindMachines(env, RunningExecutable());
    EXPECT_EQ(Names(machines).front(), "wine:Steam");
    EXPECT_EQ(std::count_if(machines.begin(), machines.end(),
                            [](const FoundMachine& m) { return m.kind == MachineKind::CrossOver; }),
              0);
}

TEST_F(MachineFinderTest, SkipsBrokenLauncherFiles) {
    home.Write(".local/share/Steam/config/libraryfolders.vdf", "\"libraryfolders\" { \"0\" {");
    home.Write(".local/share/Steam/steamapps/libraryfolders.vdf", "\0\xff garbage");
    home.Write(".local/share/Steam/steamapps/appmanifest_1091500.acf", "\"AppState\" { \"name\"");
    home.Write(".local/share/bottles/bottles/Office/bottle.yml", "Name: [unclosed\n  - :");
    home.Write(".var/app/com.usebottles.bottles/data/bottles/bottles/Games/bottle.yml",
               "- a list\n- not a map\n");
    home.Write(".local/share/lutris/pga.db", "not a database at all");
    home.Write(".config/lutris/games/broken.yml", "game: {prefix: [");
    home.Write(".config/lutris/games/relative.yml", "game:\n  prefix: Games/witcher\n");
    home.Write(".config/lutris/games/scalar.yml", "just text");
    home.Write(".config/lutris/games/no-prefix.yml", "game:\n  exe: /x.exe\n");
    home.Write(".config/lutris/games/tilde.yml",
               "game:\n  prefix: ~/.PlayOnLinux/wineprefix/Notepad\n");
    fs::create_directories(home.Dir() / ".config/lutris/games/folder.yml");

    std::vector<FoundMachine> machines = FindMachines(home.Env(), RunningExecutable());
    EXPECT_EQ(
        Names(machines),
        (std::vector<std::string>{"wine:Wine", "steam:1091500", "steam:3228582931", "bottles:Games",
                                  "bottles:Office", "lutris:the-witcher-3-1612345678",
                                  "lutris:tilde", "crossover:Steam", "sample:sample machine"}));
}

TEST_F(MachineFinderTest, FindsTheFlatpakClientAndLibrariesOnlyOnce) {
    const std::string flatpak =
        home.Dir().string() + "/.var/app/com.valvesoftware.Steam/.local/share/Steam";
    // The same second library, named through a link: still one library.
    fs::create_directory_symlink(home.Dir() / "Games", home.Dir() / "GamesLink");
    home.Write(".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/libraryfolders.vdf",
               LibraryFolders({flatpak, home.Dir().string() + "/GamesLink/SteamLibrary"}));
    home.Write(".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/appmanifest_400.acf",
               AppManifest("400", "Portal"));
    home.Prefix(".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/400/pfx");

    std::vector<fs::path> libraries = SteamLibraries(home.Dir());
    EXPECT_EQ(libraries.size(), 3u);
    std::vector<LauncherPrefix> proton = FindProtonPrefixes(home.Dir());
    std::vector<std::string> names;
    for (const LauncherPrefix& p : proton)
        names.push_back(p.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"3228582931", "Cyberpunk 2077", "Half-Life 2", "Portal"}));
}

TEST_F(MachineFinderTest, NamesSharedByTwoMachinesAreAmbiguous) {
    home.Prefix(".PlayOnLinux/wineprefix/Office 2010");
    std::vector<FoundMachine> machines = FindMachines(home.Env(), RunningExecutable());
    EXPECT_EQ(MachinesNamed(machines, "Office 2010").size(), 2u);
    ASSERT_EQ(MachinesNamed(machines, "cyberpunk 2077").size(), 1u);
    EXPECT_EQ(MachinesNamed(machines, "cyberpunk 2077")[0].kind, MachineKind::Steam);
    // An exact name wins over one that differs only in case.
    home.Prefix(".PlayOnLinux/wineprefix/steam");
    machines = FindMachines(home.Env(), RunningExecutable());
    ASSERT_EQ(MachinesNamed(machines, "steam").size(), 1u);
    EXPECT_EQ(MachinesNamed(machines, "steam")[0].kind, MachineKind::PlayOnLinux);
    EXPECT_TRUE(MachinesNamed(machines, "nothing").empty());
}

}  // namespace
}  // namespace hivewise::testing
