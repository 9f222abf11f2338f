#include "generated_prefix.h"

#include <algorithm>
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

namespace {

constexpr size_t kFilesPerFolder = 100;

// Scales a count given for one million values.
size_t Scaled(size_t perMillion, size_t values) {
    return std::max<size_t>(1, static_cast<size_t>(static_cast<double>(perMillion) *
                                                   static_cast<double>(values) / 1e6));
}

size_t Folders(const ScanPrefixShape& shape) {
    return (shape.files + kFilesPerFolder - 1) / kFilesPerFolder;
}

// Distinct path number p, as the registry file spells it (backslashes doubled): even
// numbers name a file that exists, odd ones a missing file in a folder that exists or,
// one in four, in a folder that does not.
std::string PathText(const ScanPrefixShape& shape, size_t p) {
    char buf[96];
    if (p % 2 == 0) {
        size_t f = (p / 2) % shape.files;
        std::snprintf(buf, sizeof buf, "C:\\\\Program Files\\\\Vendor%04zu\\\\file%03zu.dll",
                      f / kFilesPerFolder, f % kFilesPerFolder);
    } else if ((p / 2) % 4 != 3) {
        std::snprintf(buf, sizeof buf, "C:\\\\Program Files\\\\Vendor%04zu\\\\gone%06zu.dll",
                      (p / 2) % Folders(shape), p);
    } else {
        std::snprintf(buf, sizeof buf, "C:\\\\Program Files\\\\Removed%06zu\\\\app.exe", p);
    }
    return buf;
}

// Hands out the paths of the path values in turn, so that each is named several times.
class PathValues {
  public:
    explicit PathValues(const ScanPrefixShape& shape) : shape_(shape) {}
    std::string Next() { return PathText(shape_, next_++ % shape_.distinctPaths); }
    size_t Used() const { return next_; }

  private:
    const ScanPrefixShape& shape_;
    size_t next_ = 0;
};

void AppendKey(std::string& out, const std::string& path) {
    out += "\n[";
    out += path;
    out += "] 1796704676\n#time=1dd86cde5970000\n";
}

}  // namespace

ScanPrefixShape ScanShapeFor(size_t values) {
    ScanPrefixShape shape;
    shape.values = values;
    shape.files = Scaled(50000, values);
    shape.distinctPaths = Scaled(62500, values);
    shape.pathValues = Scaled(236500, values);
    shape.classServers = Scaled(25000, values);
    shape.sharedDlls = Scaled(20000, values);
    shape.uninstallEntries = Scaled(10000, values);
    shape.appPaths = Scaled(10000, values);
    return shape;
}

std::string ScanShapedSystemReg(const ScanPrefixShape& shape) {
    std::string out = Header("REGISTRY\\\\Machine");
    out.reserve(shape.values * 56);
    PathValues paths(shape);
    char buf[160];
    // Values outside the bulk tree, and the path values among them.
    const size_t sectionValues =
        shape.classServers * 3 + shape.sharedDlls + shape.uninstallEntries * 4 + shape.appPaths * 2;
    const size_t sectionPaths =
        shape.classServers + shape.sharedDlls + shape.uninstallEntries * 2 + shape.appPaths;
    const size_t bulkValues = shape.values > sectionValues ? shape.values - sectionValues : 0;
    size_t bulkPaths = shape.pathValues > sectionPaths ? shape.pathValues - sectionPaths : 0;

    // Keys in the order the server writes them: sorted, without regard to case.
    const size_t bulkKeys = (bulkValues + kValuesPerKey - 1) / kValuesPerKey;
    size_t written = 0;
    for (size_t k = 0; k < bulkKeys; ++k) {
        std::snprintf(buf, sizeof buf, "Software\\\\Bench\\\\Vendor%03zu\\\\Product%06zu",
                      k * 1000 / bulkKeys, k);
        AppendKey(out, buf);
        for (int v = 0; v < kValuesPerKey && written < bulkValues; ++v, ++written) {
            int n = 0;
            if ((v == 0 || v == 5) && bulkPaths > 0) {
                --bulkPaths;
                // The forms installers write: plain, a command with a placeholder, an icon.
                std::string path = paths.Next();
                const char* form = k % 3 == 0   ? "\"Path%d\"=\"%s\"\n"
                                   : k % 3 == 1 ? "\"Path%d\"=\"\\\"%s\\\" \\\"%%1\\\"\"\n"
                                                : "\"Path%d\"=\"%s,0\"\n";
                out += [&] {
                    std::string line(path.size() + 64, '\0');
                    int len = std::snprintf(line.data(), line.size(), form, v, path.c_str());
                    line.resize(static_cast<size_t>(len));
                    return line;
                }();
                continue;
            }
            switch (v % 4) {
                case 0:
                    n = std::snprintf(buf, sizeof buf, "\"Count%d\"=dword:%08zx\n", v, k * 7 + v);
                    break;
                case 1:
                    n = std::snprintf(buf, sizeof buf, "\"Name%d\"=\"Product %zu component %d\"\n",
                                      v, k, v);
                    break;
                case 2:
                    n = std::snprintf(buf, sizeof buf,
                                      "\"Link%d\"=\"http://example.invalid/%zu\"\n", v, k);
                    break;
                default:
                    n = std::snprintf(buf, sizeof buf,
                                      "\"Blob%d\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,%02zx\n",
                                      v, k & 0xff);
            }
            out.append(buf, static_cast<size_t>(n));
        }
    }

    for (size_t c = 0; c < shape.classServers; ++c) {
        std::snprintf(buf, sizeof buf,
                      "Software\\\\Classes\\\\CLSID\\\\{%08zX-0000-4000-8000-00000000BE4C}", c);
        std::string key = buf;
        AppendKey(out, key);
        std::snprintf(buf, sizeof buf, "@=\"Bench class %zu\"\n", c);
        out += buf;
        AppendKey(out, key + "\\\\InprocServer32");
        out += "@=\"" + paths.Next() + "\"\n\"ThreadingModel\"=\"Both\"\n";
    }

    const std::string current = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\";
    for (size_t a = 0; a < shape.appPaths; ++a) {
        std::snprintf(buf, sizeof buf, "App Paths\\\\app%06zu.exe", a);
        AppendKey(out, current + buf);
        out += "@=\"" + paths.Next() + "\"\n\"UseUrl\"=dword:00000001\n";
    }

    AppendKey(out, current + "SharedDLLs");
    for (size_t d = 0; d < shape.sharedDlls; ++d)
        out += "\"" + paths.Next() + "\"=dword:00000001\n";

    for (size_t u = 0; u < shape.uninstallEntries; ++u) {
        std::snprintf(buf, sizeof buf, "Uninstall\\\\Bench%06zu", u);
        AppendKey(out, current + buf);
        out += "\"DisplayIcon\"=\"" + paths.Next() + ",0\"\n";
        std::snprintf(buf, sizeof buf, "\"DisplayName\"=\"Bench product %zu\"\n", u);
        out += buf;
        out += "\"Publisher\"=\"Bench Vendor\"\n";
        out += "\"UninstallString\"=\"\\\"" + paths.Next() + "\\\" /uninstall\"\n";
    }
    return out;
}

bool WriteScanShapedPrefix(const std::filesystem::path& dir, const ScanPrefixShape& shape,
                           std::string* error) {
    if (!WriteGeneratedPrefix(dir, 0, error)) return false;
    std::error_code ec;
    char name[32];
    const std::filesystem::path programs = dir / "drive_c" / "Program Files";
    for (size_t f = 0; f < shape.files; ++f) {
        std::snprintf(name, sizeof name, "Vendor%04zu", f / kFilesPerFolder);
        std::filesystem::path folder = programs / name;
        if (f % kFilesPerFolder == 0) std::filesystem::create_directories(folder, ec);
        std::snprintf(name, sizeof name, "file%03zu.dll", f % kFilesPerFolder);
        if (!WriteFile(folder / name, "MZ", error)) return false;
    }
    return WriteFile(dir / "system.reg", ScanShapedSystemReg(shape), error);
}

}  // namespace hivewise::bench
