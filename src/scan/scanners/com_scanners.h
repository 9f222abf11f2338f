#pragma once

#include <string>

#include "scan/scan_context.h"

// Scanners of the component registrations under HKEY_CLASSES_ROOT: class servers,
// programmatic identifiers and type libraries.
namespace hivewise {

// Section 1: the server file of every class under "CLSID", for each of the kinds
// InprocServer32, InprocServer, InprocHandler32 and LocalServer32.
void ScanClassServers(ScanContext& context);

// Section 2: that the class named by the "CLSID" key of every programmatic identifier
// is registered.
void ScanProgIds(ScanContext& context);

// Section 2: the library files and help folders of every type library under "TypeLib".
void ScanTypeLibraries(ScanContext& context);

// One step of the type-library walk: a "win32", "win64" or "win16" key is judged as a library
// file, a "HELPDIR" key as a help folder, and any other key is descended into.
// `keyPath` is a sub-key path under HKEY_CLASSES_ROOT.
void WalkTypeLibraryKey(ScanContext& context, const std::string& keyPath);

}  // namespace hivewise
