#pragma once

#include <cstdint>
#include <string>

#include "platform/machine/machine.h"

// Which Windows the machine is: the family, and a display name of the version and
// edition with its service pack, as the scan log and the backups use it.
namespace hivewise {

class SystemInfo {
  public:
    // `isNtFamily` is known at once; the name and the numbers come with Identify.
    explicit SystemInfo(const VersionFacts& facts);
    explicit SystemInfo(const Machine& machine) : SystemInfo(machine.Version()) {}

    void Identify();

    bool isNtFamily = false;
    std::string osName;
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t servicePackDigit = 0;  // the first of 1..9 found in the service-pack text

  private:
    VersionFacts facts_;
};

// The product type the extended version query reports for a ProductType text:
// 1 workstation ("WinNT"), 2 domain controller ("LanmanNT"), 3 server ("ServerNT"),
// 0 when the text is none of these (the query is then taken to have failed).
unsigned ProductTypeCode(const std::string& productType);

}  // namespace hivewise
