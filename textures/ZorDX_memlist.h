// The engine's store of named memory blocks: a list of slots, each empty or
// holding a name and a block the list owns. In sorted mode the empty slots
// gather at the front and the names follow in ascending byte order, so that
// lookups by name can bisect.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The decimal form of value right-justified in width characters, blank
// padded; a longer number is not cut.
std::string NumberName(int32_t value, int32_t width);

// T is the type of the data blocks; the list owns each one handed to Add
// and releases it on Delete, Clear and destruction.
template <class T>
class Tlistmem {
public:
    struct tnode {
        std::string name;
        std::unique_ptr<T> data;
    };

    Tlistmem() { items_.reserve(InitialCapacity); }
    Tlistmem(const Tlistmem&) = delete;
    Tlistmem& operator=(const Tlistmem&) = delete;
    Tlistmem(Tlistmem&&) = default;
    Tlistmem& operator=(Tlistmem&&) = default;

    // Slots, empty ones included.
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // Empty slots left by Delete since the last Pack or Clear.
    int32_t Free() const { return free_; }
    // The indices of the empty slots, most recent on top.
    const std::vector<int32_t>& FreeSlots() const { return freeSlots_; }

    bool Sorted() const { return sorted_; }
    // Switching sorted mode on sorts at once, so the sorted-mode layout
    // holds from the first Add or Delete on.
    void SetSorted(bool sorted) {
        sorted_ = sorted;
        if (sorted_) Sort();
    }

    void Add(const std::string& name, std::unique_ptr<T> data) {
        auto node = std::make_unique<tnode>(tnode{name, std::move(data)});
        if (free_ == 0) {
            items_.push_back(std::move(node));
        } else {
            // In sorted mode the stack holds exactly 0 .. free-1 (see Sort),
            // so its top is the last empty slot of the front block.
            items_[freeSlots_.back()] = std::move(node);
            freeSlots_.pop_back();
            --free_;
        }
        if (sorted_) Sort();
    }

    // The first slot holding name, or -1.
    int32_t IndexOf(const std::string& name) const {
        if (!sorted_) return FirstIndexOf(name);
        const int32_t n = Count();
        const int32_t f = free_;
        if (n - f == 0) return -1;
        int32_t lo = f;
        if (n - f == 1) return HasName(lo, name) ? lo : -1;
        if (HasName(lo, name)) return lo;
        int32_t hi = n - 1;
        int32_t mid;
        int cmp;
        do {
            mid = (lo + hi) / 2;
            cmp = Compare(name, mid);
            if (cmp < 0)
                hi = mid - 1;
            else if (cmp > 0)
                lo = mid + 1;
        } while (cmp != 0 && hi >= lo);
        if (cmp != 0) return -1;
        while (mid > 0 && HasName(mid - 1, name)) --mid;
        return mid;
    }

    T* FindData(const std::string& name) const {
        const int32_t index = IndexOf(name);
        return index < 0 ? nullptr : GetData(index);
    }

    // The block of slot index; null for an empty slot or an index outside
    // 0 .. Count-1.
    T* GetData(int32_t index) const {
        if (index < 0 || index >= Count() || !items_[index]) return nullptr;
        return items_[index]->data.get();
    }

    // Releases the node and its block, leaving the slot empty. An empty
    // slot or an index outside the list changes nothing.
    void Delete(int32_t index) {
        if (index < 0 || index >= Count() || !items_[index]) return;
        items_[index].reset();
        ++free_;
        freeSlots_.push_back(index);
        if (sorted_) Sort();
    }

    // Removes the empty slots, keeping the order of the nodes.
    void Pack() {
        std::erase(items_, nullptr);
        items_.shrink_to_fit();
        free_ = 0;
        freeSlots_.clear();
    }

    void Clear() {
        items_.clear();
        free_ = 0;
        freeSlots_.clear();
    }

private:
    static constexpr size_t InitialCapacity = 1024;

    // Empty slots first, then nodes by byte order of their names.
    void Sort() {
        std::sort(items_.begin(), items_.end(),
                  [](const std::unique_ptr<tnode>& a, const std::unique_ptr<tnode>& b) {
                      if (!a || !b) return !a && b;
                      return a->name < b->name;
                  });
        // The deleted indices moved to the front; the stack names them anew.
        for (int32_t i = 0; i < free_; ++i) freeSlots_[i] = i;
    }

    bool HasName(int32_t index, const std::string& name) const {
        return items_[index] && items_[index]->name == name;
    }

    // Name against slot index; an empty slot counts as below every name.
    int Compare(const std::string& name, int32_t index) const {
        if (!items_[index]) return 1;
        const int cmp = name.compare(items_[index]->name);
        return cmp < 0 ? -1 : (cmp > 0 ? 1 : 0);
    }

    int32_t FirstIndexOf(const std::string& name) const {
        for (int32_t i = 0; i < Count(); ++i)
            if (HasName(i, name)) return i;
        return -1;
    }

    std::vector<std::unique_ptr<tnode>> items_;
    int32_t free_ = 0;
    std::vector<int32_t> freeSlots_;
    bool sorted_ = false;
};
