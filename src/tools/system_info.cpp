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

// The names Windows gives its versions after XP and 2000; Windows 11 still reports 10.0
// and is told apart by its build.
std::string LaterWindowsName(unsigned major, unsigned minor, unsigned build, bool server) {
    if (major == 5) return server ? "Windows Server 2003" : "Windows XP Professional x64 Edition";
    if (major == 6 && minor == 0) return server ? "Windows Server 2008" : "Windows Vista";
    if (major == 6 && minor == 1) return server ? "Windows Server 2008 R2" : "Windows 7";
    if (major == 6 && minor == 2) return server ? "Windows Server 2012" : "Windows 8";
    if (major == 6 && minor == 3) return server ? "Windows Server 2012 R2" : "Windows 8.1";
    if (major == 10 && minor == 0) {
        if (!server) return build >= 22000 ? "Windows 11" : "Windows 10";
        if (build >= 20348) return "Windows Server 2022";
        if (build >= 17763) return "Windows Server 2019";
        return "Windows Server 2016";
    }
    return "Windows " + std::to_string(major) + "." + std::to_string(minor);
}

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

    const unsigned productType = ProductTypeCode(facts_.productType);
    if (majorVersion == 4) {
        osName = "Windows NT 4.0";
    } else if (majorVersion == 5 && minorVersion == 0) {
        osName = "Windows 2000";
    } else if (majorVersion == 5 && minorVersion == 1) {
        osName = "Windows XP";
    } else if (majorVersion > 5 || (majorVersion == 5 && minorVersion >= 2)) {
        // Later systems have a name of their own for workstations and for servers.
        osName = LaterWindowsName(majorVersion, minorVersion, buildNumber,
                                  productType != 0 && productType != kWorkstation);
    }

    // The extended query exists from NT 4.0 Service Pack 6 on; its edition words are
    // those of the systems up to XP and 2000.
    if (majorVersion <= 5 && minorVersion <= 1 && (majorVersion >= 5 || servicePackDigit >= 6) &&
        productType != 0) {
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
