#pragma once

#include <string>
#include <string_view>

// The target of a shortcut as its item list (the shell's identifier list) names it.
namespace hivewise {

// The file system path that an item list stands for: My Computer, a drive volume, then
// folders and files, each by its long name where the item keeps one. Empty when the list
// names anything else (a network place, a device, a control panel item) or is malformed.
// `items` is the list as stored after its size field.
std::string ItemListPath(std::string_view items);

}  // namespace hivewise
