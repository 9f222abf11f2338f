#include "tools/system_info.h"

#include "platform/machine/text.h"

namespace hivewise {

namespace {

constexpr unsigned kWorkstation = 1;
constexpr unsigned kDomainController = 2;
constexpr unsigned kServer = 3;

constexpr unsigned kSuiteEnterprise = 0x2;
constexpr unsigned kSuiteBackOffice = 0x4;
constexpr unsigned kSuiteTerminal = 0x10;
constexpr unsigned kSuiteDataCenter = 0x80;
constexpr unsigned kSuitePersonal = 0x200;

}  // namespace

unsigned ProductTypeCode(const std::string& productType) {
    if (AnsiEqualsNoCase(productType, "WinNT")) return kWorkstation;
    if (AnsiEqualsNoCase(productType, "LanmanNT")) return kDomainController;
    if (AnsiEqualsNoCase(productType, "ServerNT")) return kServer;
    return 0;
}

SystemInfo::SystemInfo(const VersionFacts& facts) : isNtFamily(facts.isNt), facts_(facts) {}

void SystemInfo::Identify() {
    majorVersion = facts_.major;
    minorVersion = facts_.minor;
    buildNumber = facts_.build;
    servicePackDigit = 0;
    osName.clear();
    const std::string& servicePack = facts_.servicePack;

    if (!isNtFamily) {
        if (minorVersion == 0) {
            osName = "Windows 95";
        } else if (minorVersion == 10) {
            osName = "Windows 98";
        } else if (minorVersion == 90) {
            osName = "Windows ME";
        }
        osName += servicePack;  // " A", " B", " C" as the system gives them
        return;
    }

    for (char digit = '1'; digit <= '9'; ++digit) {
        if (servicePack.find(digit) != std::string::npos) {
            servicePackDigit = static_cast<uint32_t>(digit - '0');
            break;
        }
    }

    if (majorVersion == 4) {
        osName = "Windows NT 4.0";
    } else if (majorVersion >= 5 && minorVersion == 0) {
        osName = "Windows 2000";
    } else if (majorVersion >= 5 && minorVersion == 1) {
        osName = "Windows XP";
    }

    // The extended query exists from NT 4.0 Service Pack 6 on.
    const unsigned productType = ProductTypeCode(facts_.productType);
    if ((majorVersion >= 5 || servicePackDigit >= 6) && productType != 0) {
        const unsigned suite = facts_.suiteMask;
        if (productType == kWorkstation) {
            if (majorVersion == 5 && minorVersion == 1) {
                osName += (suite & kSuitePersonal) ? " Home Edition" : " Professional Edition";
            } else if (majorVersion == 5 && minorVersion == 0) {
                osName += " Professional";
            } else if (majorVersion == 4) {
                osName += " Workstation";
            }
        } else {
            if (majorVersion == 5) {
                if (suite & kSuiteEnterprise) osName += " Advanced";
                if (suite & kSuiteDataCenter) osName += " DataCenter";
                if (suite & kSuiteTerminal) osName += " Terminal";
                if (suite & kSuiteBackOffice) osName += " BackOffice";
                osName += " Server";
            } else if (majorVersion == 4 && minorVersion == 0) {
                osName += " Server";
            }
            if (productType == kDomainController) osName += " Domain Controller";
        }
    }

    if (servicePackDigit != 0) osName += " " + servicePack;
}

}  // namespace hivewise
