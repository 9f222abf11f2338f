#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine/host_services.h"
#include "platform/registry/registry_store.h"

// A Windows installation the program works on: a Wine prefix loaded into memory.
// Its registry, its drives, its environment and its version facts, and the saving
// of what changed back into the prefix's files.
namespace hivewise {

class KeyHandleTable;
class PathResolver;
class PrefixLock;

// GetDriveTypeA's answers.
enum class DriveType : unsigned {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

struct Drive {
    char letter = 'C';  // upper case
    std::filesystem::path hostRoot;
    DriveType type = DriveType::Fixed;
};

struct VersionFacts {
    bool isNt = true;
    unsigned major = 5;
    unsigned minor = 1;
    unsigned build = 2600;
    std::string servicePack;            // CSDVersion, e.g. "Service Pack 2"
    std::string productName;            // ProductName, when the registry has one
    std::string productType = "WinNT";  // ProductOptions\ProductType
    unsigned suiteMask = 0;
    unsigned userDefaultLanguage = 0x0409;  // LANGID of the user's locale
};

// Environment names compare without regard to case, as on Windows.
struct EnvNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using Environment = std::map<std::string, std::string, EnvNameLess>;

// One registry file of the prefix and what is needed to write it back safely.
struct HiveFile {
    std::string fileName;       // "system.reg"
    std::u16string relativeTo;  // "REGISTRY\\Machine"
    RegKey* base = nullptr;     // the branch the file holds (a key of the machine's store)
    std::string header;
    std::string trailer;
    uint64_t savedChanges = 0;  // the store's count of changes to the file when last in step
    bool existed = false;       // the file was there when loaded
    struct timespec mtime {};
    off_t size = 0;
    ino_t inode = 0;
};

struct MachineOptions {
    // Take the lock against a second instance and refuse writes while Wine runs.
    bool lockPrefix = true;
    // Load without ever writing back (the prefix is read only for this run).
    bool readOnly = false;
};

class Machine {
  public:
    struct LoadResult {
        std::unique_ptr<Machine> machine;
        std::string error;  // one line, for the user
    };
    static LoadResult Load(const std::filesystem::path& prefix, const MachineOptions& options = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    RegistryStore& Registry() { return store_; }
    RegKey* LocalMachine() const;
    RegKey* Users() const;
    RegKey* CurrentUser() const;
    // HKEY_CLASSES_ROOT: HKLM\Software\Classes, created when missing.
    RegKey* ClassesRoot();
    const std::u16string& UserSid() const { return userSid_; }

    const std::filesystem::path& PrefixDir() const { return prefix_; }
    const std::vector<Drive>& Drives() const { return drives_; }
    const Drive* FindDrive(char letter) const;
    const Environment& Env() const { return env_; }
    std::optional<std::string> GetEnv(const std::string& name) const;
    void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
    const VersionFacts& Version() const { return version_; }

    // The folder of the running program inside the machine (Windows path, no trailing
    // backslash), and the program file in it.
    const std::string& ProgramFolder() const { return programFolder_; }
    void SetProgramFolder(const std::string& folder) { programFolder_ = folder; }
    std::string ProgramFile() const { return programFolder_ + "\\hivewise.exe"; }

    PathResolver& Paths() { return *paths_; }
    KeyHandleTable& Handles() { return *handles_; }
    // "win32" or "win64", as the prefix's registry files say.
    std::string Arch() const;
    HostServices& Host() { return *host_; }
    void SetHost(HostServices* host) { host_ = host ? host : &nullHost_; }

    // Re-reads the environment, drives and version facts after the registry changed.
    void RefreshDerivedFacts();

    // Writes every registry file whose content changed. Refuses, writing nothing, while
    // Wine's server runs for the prefix or when a file changed on disk since loading.
    struct SaveResult {
        bool ok = true;
        bool wroteAny = false;
        std::string error;
    };
    SaveResult Flush();
    // Why Flush would refuse now, whatever it had to write: opened read only, Wine runs,
    // or a registry file changed on disk since loading. Empty when a save may proceed, so
    // that an action checks before it touches anything it could not record.
    std::string SaveRefusal() const;
    bool ReadOnly() const { return options_.readOnly; }
    // True when some registry file would be written by Flush. Costs nothing: the store
    // counts the changes to each file.
    bool HasUnsavedChanges() const;
    // What a key is to the prefix's files; the one rule for what may be changed.
    enum class KeyRole {
        Unsaved,   // no file saves it (new keys directly under HKEY_USERS, deleted keys)
        Base,      // a file's base (HKLM, the user's key, .Default) or a key above one:
                   // never deleted, and no file keeps values of its own
        TopLevel,  // HKLM's own top-level keys (Software, System, ...): never deleted,
                   // as Windows refuses to, but their values are saved
        Ordinary,  // saved, and may be changed and deleted
    };
    KeyRole RoleOf(const RegKey* key) const;
    // A file saves the key and its values (TopLevel or Ordinary).
    bool IsSavedKey(const RegKey* key) const;
    // A new sub-key of `parent` would be saved by a file and could be deleted again
    // (never directly under HKEY_LOCAL_MACHINE or HKEY_USERS).
    bool SavesNewSubKeys(const RegKey* parent) const;
    // The keys of `path` below `base` that do not exist yet may be made: true when all
    // exist, else whether the deepest existing one takes new sub-keys.
    bool SavesNewKeysAt(RegKey* base, std::u16string_view path) const;

    const std::vector<HiveFile>& Hives() const { return hives_; }

  private:
    Machine();
    // Whether the file would be written: changed, and not a new file left empty.
    bool NeedsWrite(const HiveFile& hive, size_t index) const;
    // Why the given files may not be written now; empty when they may.
    std::string RefusalFor(const std::vector<size_t>& files) const;
    std::filesystem::path prefix_;
    MachineOptions options_;
    RegistryStore store_;
    std::vector<HiveFile> hives_;
    std::u16string userSid_;
    std::vector<Drive> drives_;
    Environment env_;
    VersionFacts version_;
    std::string programFolder_ = "C:\\Program Files\\Hivewise";
    std::unique_ptr<PathResolver> paths_;
    std::unique_ptr<KeyHandleTable> handles_;
    std::unique_ptr<PrefixLock> lock_;
    NullHostServices nullHost_;
    HostServices* host_ = &nullHost_;
};

// Facts the machine derives from its registry and its prefix folder.
std::vector<Drive> ReadDrives(const std::filesystem::path& prefix, const RegistryStore& store,
                              RegKey* localMachine);
Environment BuildEnvironment(const RegistryStore& store, RegKey* localMachine, RegKey* currentUser,
                             const std::u16string& userSid);
VersionFacts ReadVersionFacts(const RegistryStore& store, RegKey* localMachine,
                              RegKey* currentUser);

}  // namespace hivewise
