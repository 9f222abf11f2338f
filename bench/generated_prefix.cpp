#include "generated_prefix.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace hivewise::bench {
namespace {

constexpr int kValuesPerKey = 10;
constexpr const char* kSid = "S-1-5-21-0-0-0-1000";

bool WriteFile(const std::filesystem::path& path, const std::string& content, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    out.close();
    if (!out) {
        if (error) *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

std::string Header(const char* relativeTo) {
    return std::string("WINE REGISTRY Version 2\n;; All keys relative to ") + relativeTo +
           "\n\n#arch=win32\n";
}

}  // namespace

std::string GeneratedSystemReg(size_t values) {
    std::string out = Header("REGISTRY\\\\Machine");
    out.reserve(values * 56);
    char buf[320];
    size_t keys = (values + kValuesPerKey - 1) / kValuesPerKey;
    size_t written = 0;
    for (size_t k = 0; k < keys; ++k) {
        // Sections in the order the server writes them: sorted, without regard to case.
        std::snprintf(buf, sizeof buf,
                      "\n[Software\\\\Bench\\\\Vendor%03zu\\\\Product%06zu] 1796704676\n"
                      "#time=1dd86cde%07zx\n",
                      k * 1000 / keys, k, k);
        out += buf;
        for (int v = 0; v < kValuesPerKey && written < values; ++v, ++written) {
            int n = 0;
            switch (v % 5) {
                case 0:
                    // Drive paths: every other one names a file that exists.
                    if (k % 2 == 0) {
                        n = std::snprintf(buf, sizeof buf,
                                          "\"Path%d\"=\"C:\\\\windows\\\\system32\\\\bench\\\\"
                                          "file%02zu.dll\"\n",
                                          v, (k + v) % kGeneratedPresentFiles);
                    } else {
                        n = std::snprintf(buf, sizeof buf,
                                          "\"Path%d\"=\"C:\\\\Program Files\\\\Gone "
                                          "Vendor\\\\app%06zu\\\\bin%d.exe\"\n",
                                          v, k, v);
                    }
                    break;
                case 1:
                    n = std::snprintf(buf, sizeof buf, "\"Count%d\"=dword:%08zx\n", v, k * 7 + v);
                    break;
                case 2:
                    n = std::snprintf(buf, sizeof buf, "\"Name%d\"=\"Product %zu component %d\"\n",
                                      v, k, v);
                    break;
                case 3:
                    n = std::snprintf(
                        buf, sizeof buf,
                        "\"Expand%d\"=str(2):\"%%SystemRoot%%\\\\system32\\\\x%zu.dll\"\n", v, k);
                    break;
                default:
                    n = std::snprintf(buf, sizeof buf,
                                      "\"Blob%d\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,%02zx\n",
                                      v, k & 0xff);
            }
            out.append(buf, static_cast<size_t>(n));
        }
    }
    return out;
}

bool WriteGeneratedPrefix(const std::filesystem::path& dir, size_t values, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir / "drive_c" / "windows" / "system32" / "bench", ec);
    std::filesystem::create_directories(dir / "dosdevices", ec);
    if (ec) {
        if (error) *error = "cannot create " + dir.string();
        return false;
    }
    if (!std::filesystem::exists(dir / "dosdevices" / "c:", ec))
        std::filesystem::create_directory_symlink("../drive_c", dir / "dosdevices" / "c:", ec);
    char name[32];
    for (int i = 0; i < kGeneratedPresentFiles; ++i) {
        std::snprintf(name, sizeof name, "file%02d.dll", i);
        if (!WriteFile(dir / "drive_c" / "windows" / "system32" / "bench" / name, "MZ", error))
            return false;
    }
    std::string user = Header((std::string("REGISTRY\\\\User\\\\") + kSid).c_str()) +
                       "\n[Software\\\\Hivewise] 1796704676\n#time=1dd86cde5970000\n"
                       "\"Last Scan\"=\"\"\n";
    return WriteFile(dir / "system.reg", GeneratedSystemReg(values), error) &&
           WriteFile(dir / "user.reg", user, error) &&
           WriteFile(dir / "userdef.reg", Header("REGISTRY\\\\User\\\\.Default"), error);
}

}  // namespace hivewise::bench
