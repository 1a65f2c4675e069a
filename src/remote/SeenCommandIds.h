#pragma once

#include <QStringView>

#include <cstdint>
#include <vector>

// The ids of the commands seen most recently: at most `capacity` of them, the oldest forgotten first.
// Each id is kept as a 64-bit digest keyed with a random number of the process's own, so that no
// sender can aim ids at one place of the table; at full capacity the table holds 16 bytes an id for a
// capacity that is a power of two (8 for the digest, 8 for two slots of the probing table), at most 24
// for another: 16 MiB for the default capacity, however long the ids are. Not thread-safe: its owner
// guards it.
class SeenCommandIds {
public:
    static constexpr size_t kDefaultCapacity = size_t(1) << 20;

    explicit SeenCommandIds(size_t capacity = kDefaultCapacity);

    // Records the id; false, changing nothing, when it is remembered already.
    bool insert(QStringView id);
    bool contains(QStringView id) const;
    size_t size() const { return ring_.size(); }
    size_t capacity() const { return capacity_; }

private:
    std::uint64_t digestOf(QStringView id) const;
    // The table slot holding the digest, or the empty slot where it would go.
    size_t slotOf(std::uint64_t digest) const;
    void place(std::uint32_t ringIndex);
    void remove(std::uint64_t digest);
    void growTable();

    const size_t capacity_;
    const std::uint64_t key_;
    // The digests in the order they were recorded; once full, oldest_ is the next to be replaced.
    std::vector<std::uint64_t> ring_;
    size_t oldest_ = 0;
    // Open addressing with linear probing: each slot holds a ring index plus one, 0 when empty. Never
    // more than half full.
    std::vector<std::uint32_t> table_;
};
