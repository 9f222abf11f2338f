#include "platform/machine/string_table.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace hivewise {
namespace {

struct Entry {
    int id;
    std::string_view text;
};

// Sorted by id. Texts are ASCII, so they are already in the ANSI code page.
constexpr std::array kEntries = {
    Entry{105, "The file (%s) does not exist at the specified location"},
    Entry{106, "(Default)"},
    Entry{107, "The Application ID (%s) is not valid.  (%s does not exist)"},
    Entry{108,
          "The shortcut is not valid.  Shortcut refers to (%s) which is a file that does "
          "not exist."},
    Entry{109, "The Directory path is not valid. (%s does not exist)"},
    Entry{110, "HKLM"},
    Entry{111, "HKCU"},
    Entry{112, "HKCR"},
    Entry{114,
          "Browser Helper Objects are objects that attach themselves to Internet Explorer, "
          "and start each time your browser is started.  These items can include Internet "
          "Explorer Add-ons such as Toolbars. You can view details about each item by "
          "highlighting an entry below, including the company behind the BHO as well as "
          "the Product Name so you can make an informed decision on what you wish to "
          "remove.\n\nNote:  Removal of items below will prevent them from running when "
          "you open Internet Explorer but will not remove the actual application from your "
          "PC."},
    Entry{115,
          "Startup Programs are applications that run each time you start your "
          "computer.You can view details about each item by highlighting an entry below, "
          "including the company behind the application as well as the Product Name so you "
          "can make an informed decision on what you wish to remove.\n\nNote:  Removal of "
          "items below will prevent them from running when you restart your computer \nbut "
          "will not remove the actual application from your PC."},
    Entry{116,
          "Add/Remove Programs items are entries that are listed when you access the "
          "Add/Remove section of your PC's control panel.  Incomplete installation or "
          "uninstallation of a particular program might leave an entry behind.  Removal of "
          "items below will prevent them from appearing when you access your Add/Remove "
          "Programs section of your control panel.\n\nNote:  Removal of items below will "
          "prevent them from being displayed when you go to Add/Remove programs but will "
          "not remove the actual application from your PC."},
    Entry{118,
          "This section will display specific Browser Helper Objects that will attach "
          "themselves to Internet Explorer. These items could include unwanted toolbars or "
          "additional Internet Explorer add-ons."},
    Entry{119,
          "This section will display all items that are set to start up when you boot up "
          "your PC.These items could include unwanted or unneeded applications that could "
          "increase your boot up time and reduce your computer performance."},
    Entry{120,
          "This section will display all items that are currently available in the "
          "Add/Remove Programs section of your control panel.  These items could include "
          "applications that were installed or uninstalled incorrectly or not completely."},
    Entry{121,
          "This section will allow you to create and restore full backups of your Windows "
          "registry. We recommend backing up your registry regularly so a fully working "
          "backup is always available in case of a system failure."},
    Entry{123,
          "The Full Registry Backup Utility will allow you to make full registry backups "
          "whenever you wish to preserve a working copy of your Windows registry.  You can "
          "also use the utility to restore a previous registry backup that you have made "
          "utilizing this utility.  To get started, simply choose an option below and "
          "select \"Next\""},
    Entry{128, "https://www.hivewise.example/updates/current_version.htm"},
    Entry{129, "https://www.hivewise.example/updates/"},
};

static_assert(std::is_sorted(kEntries.begin(), kEntries.end(),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }));

}  // namespace

std::string_view ResourceText(int id) {
    auto it = std::lower_bound(kEntries.begin(), kEntries.end(), id,
                               [](const Entry& e, int wanted) { return e.id < wanted; });
    if (it == kEntries.end() || it->id != id) return {};
    return it->text;
}

std::string LoadResourceText(int id) {
    return std::string(ResourceText(id));
}

}  // namespace hivewise
