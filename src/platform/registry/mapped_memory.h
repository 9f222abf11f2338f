#pragma once

#include <cstddef>

// Memory for the registry's large tables (a file's text, blocks of keys), mapped ready
// for use. Fresh memory touched page by page costs a fault per 4 KiB page, which for a
// large registry weighs more than parsing it; large regions are therefore asked for
// in huge pages (touched as needed). Small ones are ordinary zeroed memory.
namespace hivewise {

class MappedMemory {
  public:
    MappedMemory() = default;
    // Maps at least `bytes` (zeroed); Data() is null when the system has no memory left.
    explicit MappedMemory(size_t bytes);
    ~MappedMemory();
    MappedMemory(MappedMemory&& other) noexcept;
    MappedMemory& operator=(MappedMemory&& other) noexcept;
    MappedMemory(const MappedMemory&) = delete;
    MappedMemory& operator=(const MappedMemory&) = delete;

    void* Data() const { return data_; }
    size_t Size() const { return size_; }

  private:
    void Release();

    void* data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;  // mapped by this object rather than allocated
};

}  // namespace hivewise
