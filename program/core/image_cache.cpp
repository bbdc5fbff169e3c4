#include "image_cache.h"

#include "platform.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace tolvane {

namespace {
uint64_t PixelBytesOf(const ImgClass& img) {
    const ImgStruct& s = img.ImgStruct;
    return s.ImgData ? uint64_t{s.Height} * s.LineSize : 0;
}
}  // namespace

ImageCache::ImageCache(uint64_t budgetBytes) : slots_(kSlots), budget_(budgetBytes) {}

uint64_t ImageCache::DefaultBudget() {
    if (const char* mb = std::getenv("TOLVANE_CACHE_MB")) {
        const long long value = std::atoll(mb);
        if (value > 0) return uint64_t(value) << 20;
    }
    return platform::UsableMemory() / 4;
}

uint64_t LibraryPixelLimit() { return Get_Max_Pixels(); }

bool BeyondPixelLimit(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return false;
    // By division: width x height may not fit 64 bits.
    return uint64_t(height) > LibraryPixelLimit() / uint64_t(width);
}

bool ReadRanOutOfMemory(const std::string& lastError, int error) {
    if (error == ENOMEM) return true;
    std::string words = lastError;
    for (char& c : words) c = char(std::tolower(static_cast<unsigned char>(c)));
    return words.find("no memory") != std::string::npos || words.find("memory allocation") != std::string::npos;
}

int ImageCache::IndexOf(const std::string& name) const {
    if (name.empty()) return -1;
    for (int i = 0; i < count_; ++i) {
        const ImgClass* img = slots_[static_cast<size_t>(i)].image.get();
        if (img && img->ImgStruct.FileName[0] && name == img->ImgStruct.FileName) return i;
    }
    return -1;
}

ImgClass* ImageCache::Find(const std::string& name) {
    const int i = IndexOf(name);
    if (i < 0) return nullptr;
    Touch(i);
    return slots_[static_cast<size_t>(i)].image.get();
}

ImgClass* ImageCache::Add(const std::string& name) {
    if (name.empty() || name.size() >= sizeof(ImgStruct::FileName)) return nullptr;
    int slot = -1;
    for (int i = 0; i < kSlots && slot < 0; ++i)
        if (!slots_[static_cast<size_t>(i)].image) slot = i;
    if (slot < 0) {
        // Every slot is taken: the image used longest ago makes room.
        Remove(LeastRecentlyUsed());
        slot = count_;
    }
    Slot& s = slots_[static_cast<size_t>(slot)];
    s.image = std::make_unique<ImgClass>();
    name.copy(s.image->ImgStruct.FileName, name.size());
    s.image->ImgStruct.FileName[name.size()] = '\0';
    if (slot + 1 > count_) count_ = slot + 1;
    Touch(slot);
    return s.image.get();
}

ImgClass* ImageCache::FindOrAdd(const std::string& name) {
    ImgClass* img = Find(name);
    return img ? img : Add(name);
}

int ImageCache::LeastRecentlyUsed() const {
    int oldest = -1;
    for (int i = 0; i < count_; ++i) {
        const Slot& s = slots_[static_cast<size_t>(i)];
        if (s.image && (oldest < 0 || s.lastUse < slots_[static_cast<size_t>(oldest)].lastUse))
            oldest = i;
    }
    return oldest;
}

bool ImageCache::EvictLargest(const ImgClass* keep) {
    int largest = -1;
    uint64_t most = 0;
    for (int i = 0; i < count_; ++i) {
        const ImgClass* img = slots_[static_cast<size_t>(i)].image.get();
        if (!img || img == keep) continue;
        const uint64_t bytes = PixelBytesOf(*img);
        if (bytes > most) {
            most = bytes;
            largest = i;
        }
    }
    return largest >= 0 && Remove(largest);
}

void ImageCache::MakeRoom(uint64_t incoming, const ImgClass* keep) {
    if (budget_ == 0) return;
    while (PixelBytes() + incoming > budget_ && EvictLargest(keep)) {
    }
}

bool ImageCache::Remove(int slot) {
    if (slot < 0 || slot >= kSlots || !slots_[static_cast<size_t>(slot)].image) return false;
    slots_[static_cast<size_t>(slot)].image.reset();
    // Compact: the used slots move down in order.
    int used = 0;
    for (int i = 0; i < kSlots; ++i) {
        if (!slots_[static_cast<size_t>(i)].image) continue;
        if (i != used) std::swap(slots_[static_cast<size_t>(used)], slots_[static_cast<size_t>(i)]);
        ++used;
    }
    count_ = used;
    return true;
}

void ImageCache::Clear() {
    for (Slot& s : slots_) s.image.reset();
    count_ = 0;
}

uint64_t ImageCache::PixelBytes() const {
    uint64_t total = 0;
    for (int i = 0; i < count_; ++i)
        if (const ImgClass* img = slots_[static_cast<size_t>(i)].image.get()) total += PixelBytesOf(*img);
    return total;
}

void PendingLoads::Add(const std::string& name) {
    if (name.empty()) return;
    for (std::string& slot : slots_) {
        if (slot == name) return;
        if (slot.empty()) {
            slot = name;
            return;
        }
    }
}

void PendingLoads::Remove(const std::string& name) {
    for (std::string& slot : slots_) {
        if (slot == name) {
            slot.clear();
            return;
        }
    }
}

void PendingLoads::Clear() {
    for (std::string& slot : slots_) slot.clear();
}

std::string PendingLoads::First() const {
    for (const std::string& slot : slots_)
        if (!slot.empty()) return slot;
    return "";
}

}  // namespace tolvane
