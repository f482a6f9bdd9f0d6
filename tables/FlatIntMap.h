// An ordered map from row numbers to values kept in one sorted vector: cells of a column and
// row titles. Rows are read, written and walked far more than they are inserted, so a
// contiguous layout beats a node tree; renumbering after a row insert or removal only adjusts
// keys, since their order never changes.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

namespace dk::tables {

template <class T>
class FlatIntMap {
public:
    using value_type = std::pair<int, T>;
    using Storage = std::vector<value_type>;
    using iterator = typename Storage::iterator;
    using const_iterator = typename Storage::const_iterator;

    iterator begin() { return m_items.begin(); }
    iterator end() { return m_items.end(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }
    size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    void clear() { m_items.clear(); }
    void reserve(size_t n) { m_items.reserve(n); }

    iterator lower_bound(int key) {
        return std::lower_bound(m_items.begin(), m_items.end(), key,
                                [](const value_type& item, int k) { return item.first < k; });
    }
    const_iterator lower_bound(int key) const {
        return std::lower_bound(m_items.begin(), m_items.end(), key,
                                [](const value_type& item, int k) { return item.first < k; });
    }
    iterator find(int key) {
        auto it = lower_bound(key);
        return (it != end() && it->first == key) ? it : end();
    }
    const_iterator find(int key) const {
        auto it = lower_bound(key);
        return (it != end() && it->first == key) ? it : end();
    }
    bool contains(int key) const { return find(key) != end(); }

    // The value at `key`, inserted default-constructed when missing. Appending is O(1);
    // inserting before existing keys moves the later entries.
    T& operator[](int key) {
        if (m_items.empty() || m_items.back().first < key) return m_items.emplace_back(key, T()).second;
        auto it = lower_bound(key);
        if (it == end() || it->first != key) it = m_items.emplace(it, key, T());
        return it->second;
    }
    void insert_or_assign(int key, T value) {
        if (m_items.empty() || m_items.back().first < key)
            m_items.emplace_back(key, std::move(value));
        else
            (*this)[key] = std::move(value);
    }

    size_t erase(int key) {
        auto it = find(key);
        if (it == end()) return 0;
        m_items.erase(it);
        return 1;
    }
    // Drops every entry at `key` and after.
    void eraseFrom(int key) { m_items.erase(lower_bound(key), m_items.end()); }

    // Entries at `from` and after take the next number.
    void shiftUp(int from) {
        for (auto it = lower_bound(from); it != end(); ++it) ++it->first;
    }
    // Entries after `from` take the previous number; the entry at `from` must already be gone.
    void shiftDown(int from) {
        for (auto it = lower_bound(from + 1); it != end(); ++it) --it->first;
    }

    bool operator==(const FlatIntMap&) const = default;

private:
    Storage m_items;
};

}  // namespace dk::tables
