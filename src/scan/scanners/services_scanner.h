#pragma once

#include <optional>
#include <string>

#include "scan/scan_context.h"

// Scanners of the image files of the services and static device drivers registered under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services.
namespace hivewise {

// Section 9: the "ImagePath" of every service.
void ScanSystemServices(ScanContext& context);

// Section 10: the "StaticVXD" of every entry of the Services\VXD key.
void ScanVxdSection(ScanContext& context);

// The plain file path of an image path as the registry holds it (\SystemRoot\..., \??\C:\...,
// %SystemRoot%\..., relative to `baseDirectory`, a bare program with arguments), lower-cased
// except for the inserted folders; nothing when it names no file (a single word).
std::optional<std::string> NormaliseImagePath(const std::string& text,
                                              const std::string& windowsDirectory,
                                              const std::string& baseDirectory);

}  // namespace hivewise
