// The program's source images, shared by the batch run and the preview, and
// the queue of background loads for the preview.
#pragma once

#include <ORVIX_0500.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvane {

// Up to 1024 images, each known by its FileName (exact comparison). Images
// may hold pixels or not. When every slot is taken the least recently used
// image makes room, and a byte budget bounds the pixels held: on a system
// that overcommits, a read rarely fails, the process is killed instead.
class ImageCache {
public:
    static constexpr int kSlots = 1024;

    explicit ImageCache(uint64_t budgetBytes = 0);
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    ImgClass* Find(const std::string& name);
    int IndexOf(const std::string& name) const;
    // The new image, or null for an empty name.
    ImgClass* Add(const std::string& name);
    ImgClass* FindOrAdd(const std::string& name);
    // Removes the image with the most pixels (the first of equal ones) other
    // than keep; false when no other image holds pixels.
    bool EvictLargest(const ImgClass* keep = nullptr);
    // Evicts largest first until the pixels held plus incoming fit the
    // budget, or nothing else can go. A budget of 0 means no bound.
    void MakeRoom(uint64_t incoming, const ImgClass* keep = nullptr);
    bool Remove(int slot);
    void Clear();

    int Count() const { return count_; }
    uint64_t PixelBytes() const;
    uint64_t Budget() const { return budget_; }
    void SetBudget(uint64_t bytes) { budget_ = bytes; }

    // The default budget: TOLVANE_CACHE_MB from the environment when it is a
    // positive number, else a quarter of the memory the process may use
    // (physical memory, or its control group's limit when that is less).
    static uint64_t DefaultBudget();

private:
    struct Slot {
        std::unique_ptr<ImgClass> image;
        uint64_t lastUse = 0;
    };
    int LeastRecentlyUsed() const;
    void Touch(int slot) { slots_[static_cast<size_t>(slot)].lastUse = ++clock_; }

    std::vector<Slot> slots_;
    int count_ = 0;  // one past the highest slot in use
    uint64_t clock_ = 0;
    uint64_t budget_;
};

// The most pixels the image library reads or makes for one image.
uint64_t LibraryPixelLimit();
// Whether a width x height image is more than the library will hold; a
// size with no pixels is not.
bool BeyondPixelLimit(int64_t width, int64_t height);

// Whether a failed read ran out of memory, from the library's last-error
// text (its allocation failures say "no memory" or "memory allocation") or
// the system's error number. Only then can evicting cached images help.
bool ReadRanOutOfMemory(const std::string& lastError, int error);

// 32 paths waiting to be loaded for the preview.
class PendingLoads {
public:
    static constexpr int kSlots = 32;

    PendingLoads() : slots_(kSlots) {}
    // Stored in the first empty slot unless an equal name comes first; a
    // full queue ignores it.
    void Add(const std::string& name);
    void Remove(const std::string& name);
    void ClearFirst() { slots_[0].clear(); }
    void Clear();
    // The first non-empty slot, or "".
    std::string First() const;

private:
    std::vector<std::string> slots_;
};

}  // namespace tolvane
