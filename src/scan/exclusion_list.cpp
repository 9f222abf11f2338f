#include "scan/exclusion_list.h"

#include "platform/machine/text.h"

namespace hivewise {

const std::array<std::string_view, kExclusionCount> kExclusionList = {
    "software\\microsoft\\windows\\currentversion\\internet settings\\cache\\paths",
    "content.ie5\\cache",
    "advanced inf setup",
    "ie.hklmzoneInfo",
    "ie.hkcuzoneInfo",
    "HKEY_CLASSES_ROOT\\.htc",
    ".htc",
    ".dbx",
    "recycled",
    "recycler",
    ".BAS",
    ".MST",
    ".NCH",
    ".VB",
    "CachePath",
    "svchost",
    "DumpFile",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    ".RAR",
    ".PCD",
    "Services\\mchInjDrv",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\DigitalImaging\\CtxMgr\\Strings",
    "Software\\Microsoft\\MPEG2Demultiplexer\\WriteCaptureDir",
    "HKEY_CLASSES_ROOT\\TypeLib\\{00025E01-0000-0000-C000-000000000046}\\5.0\\HELPDIR",
    "LeadToolsDir",
    "ProjectsPluginsDir",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\DigitalImaging",
    "CoreIncludePath",
    "SdkDvdGraphicsPath",
    "SdkIncludePath",
    "LocalDelta",
    "RemoteDelta",
    "JITSetupPage",
    "blank.htm",
    "HKEY_CLASSES_ROOT\\CLSID\\{0A4550F5-9BC3-4152-B387-A6A92314EFB9}\\InprocServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{8B621BBF-A21D-4311-92E5-A98E7DDDF36A}\\InprocServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{8E16892B-25C6-431f-8297-0EABCF13AC59}\\InprocServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{98F933D7-551D-45c5-A99A-93D438DA87D9}\\InprocServer32",
};

namespace {

// The table lower-cased once; findings arrive one at a time, but a scan has many.
const std::array<std::string, kExclusionCount>& LowerExclusions() {
    static const std::array<std::string, kExclusionCount> lower = [] {
        std::array<std::string, kExclusionCount> result;
        for (size_t i = 0; i < kExclusionCount; ++i)
            result[i] = AnsiLower(kExclusionList[i]);
        return result;
    }();
    return lower;
}

}  // namespace

bool IsExcluded(std::string_view matchText, const IgnoreList& ignoreList) {
    std::string text = AnsiLower(matchText);
    for (const std::string& entry : LowerExclusions()) {
        if (text.find(entry) != std::string::npos) return true;
    }
    for (const std::string& entry : ignoreList) {
        // An empty entry would be found in every text and hide every finding.
        if (entry.empty()) continue;
        if (text.find(AnsiLower(entry)) != std::string::npos) return true;
    }
    return false;
}

}  // namespace hivewise
