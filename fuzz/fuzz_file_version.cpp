// The version details of a PE image: its resource section, the version block and the
// strings in it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/file_version.h"

using namespace hivewise;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FileVersionDetails details;
    details.ReadImage(bytes, 0x0409);
    // The same bytes as a version block already cut out of its file.
    FileVersionDetails block;
    block.ReadResource(bytes, 0x0401);
    QueryVersionText(bytes, "\\StringFileInfo\\040904B0\\CompanyName");
    QueryVersionValue(bytes, "\\VarFileInfo\\Translation");
    return 0;
}
