#pragma once

#include <string>
#include <string_view>

#include "scan/scan_context.h"

// Scanners of the values that name files to run or play: the Run keys, the sounds, and
// the per-user passes of the complete registry scan.
namespace hivewise {

// Section 8: the data of every value of SOFTWARE\Microsoft\Windows\CurrentVersion\Run,
// first under HKEY_LOCAL_MACHINE, then under HKEY_CURRENT_USER.
void ScanStartupPrograms(ScanContext& context);

// Section 12: the data of every value of HKEY_CURRENT_USER\Control Panel\Sounds, then
// the sound events.
void ScanSounds(ScanContext& context);

// Section 12: the sound file of every event of HKEY_CURRENT_USER\AppEvents\Schemes\Apps,
// in its ".Current" and ".Default" schemes.
void ScanSoundEvents(ScanContext& context);

// Section 13: the registry-wide walk over HKEY_USERS.
void ScanUsersHive(ScanContext& context);

// Section 13: the programs the shell counts as started, kept under
// HKEY_CURRENT_USER\...\Explorer\UserAssist\<id>\Count by their encoded paths.
void ScanUserAssist(ScanContext& context);
// The walk of one count key; `countKey` is its path below HKEY_CURRENT_USER.
void ScanUserAssistCount(ScanContext& context, const std::string& countKey);

// Each ASCII letter replaced by the letter 13 places on (A to N, N to A); every other
// byte unchanged.
std::string DecodeRot13(std::string_view text);

}  // namespace hivewise
