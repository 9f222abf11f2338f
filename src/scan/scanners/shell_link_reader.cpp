#include "scan/scanners/shell_link_reader.h"

#include <fcntl.h>
#include <liblnk.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/machine/text.h"
#include "scan/scanners/shell_item_list.h"

namespace hivewise {
namespace {

// A liblnk file object, closed and freed whatever way the parse ends.
struct LinkFile {
    liblnk_file_t* file = nullptr;
    bool open = false;
    ~LinkFile() {
        if (open) liblnk_file_close(file, nullptr);
        if (file) liblnk_file_free(&file, nullptr);
    }
};

using Utf8Getter = int (*)(liblnk_file_t*, uint8_t*, size_t, liblnk_error_t**);
using SizeGetter = int (*)(liblnk_file_t*, size_t*, liblnk_error_t**);

// One of the shortcut's texts in ANSI; empty when it has none or it cannot be read.
std::string Text(liblnk_file_t* file, SizeGetter size, Utf8Getter get) {
    size_t bytes = 0;
    if (size(file, &bytes, nullptr) != 1 || bytes == 0) return {};
    std::vector<uint8_t> utf8(bytes + 1, 0);
    if (get(file, utf8.data(), utf8.size(), nullptr) != 1) return {};
    std::string_view text(reinterpret_cast<const char*>(utf8.data()));
    return Utf16ToAnsi(Utf8ToUtf16(text));
}

std::string ItemList(liblnk_file_t* file) {
    size_t bytes = 0;
    if (liblnk_file_get_link_target_identifier_data_size(file, &bytes, nullptr) != 1 ||
        bytes == 0) {
        return {};
    }
    std::string data(bytes, '\0');
    if (liblnk_file_copy_link_target_identifier_data(file, reinterpret_cast<uint8_t*>(data.data()),
                                                     data.size(), nullptr) != 1) {
        return {};
    }
    return ItemListPath(data);
}

// Parses the shortcut open at `fd`. liblnk reads through its own file layer, which stops
// at the end of the file (its memory layer does not); /proc names the very file checked.
bool ParseOpenFile(int fd, const std::filesystem::path& fallback, ShellLinkInfo* info) {
    LinkFile link;
    if (liblnk_file_initialize(&link.file, nullptr) != 1 ||
        liblnk_file_set_ascii_codepage(link.file, LIBLNK_CODEPAGE_WINDOWS_1252, nullptr) != 1) {
        return false;
    }
    static const bool haveProc = ::access("/proc/self/fd", F_OK) == 0;
    if (!haveProc && fallback.empty()) return false;
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    const char* name = haveProc ? self.c_str() : fallback.c_str();
    if (liblnk_file_open(link.file, name, LIBLNK_OPEN_READ, nullptr) != 1) return false;
    link.open = true;
    info->localPath =
        Text(link.file, liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path);
    info->environmentLocation =
        Text(link.file, liblnk_file_get_utf8_environment_variables_location_size,
             liblnk_file_get_utf8_environment_variables_location);
    info->itemListPath = ItemList(link.file);
    info->description =
        Text(link.file, liblnk_file_get_utf8_description_size, liblnk_file_get_utf8_description);
    return true;
}

}  // namespace

bool ParseShellLink(std::string_view bytes, ShellLinkInfo* info) {
    *info = {};
    if (bytes.empty() || bytes.size() > kMaxShellLinkFileSize) return false;
    int fd = ::memfd_create("shortcut", MFD_CLOEXEC);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    bool parsed = written == bytes.size() && ParseOpenFile(fd, {}, info);
    ::close(fd);
    return parsed;
}

bool ReadShellLinkFile(const std::filesystem::path& hostPath, ShellLinkInfo* info) {
    *info = {};
    // Not blocking on open: a pipe or device named like a shortcut must not hang the scan.
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxShellLinkFileSize) {
        ::close(fd);
        return false;
    }
    bool parsed = ParseOpenFile(fd, hostPath, info);
    ::close(fd);
    if (!parsed) *info = {};
    return parsed;
}

}  // namespace hivewise
