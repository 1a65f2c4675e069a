#include "SeenCommandIds.h"

#include <QHash>
#include <QRandomGenerator>

#include <algorithm>

namespace {

constexpr size_t kFirstTableSize = 1024;

} // namespace

SeenCommandIds::SeenCommandIds(size_t capacity)
    : capacity_(std::clamp<size_t>(capacity, 1, size_t(UINT32_MAX) / 4))
    , key_(QRandomGenerator::system()->generate64() | 1) // a zero key would make the digest unkeyed
    , table_(kFirstTableSize, 0) {}

std::uint64_t SeenCommandIds::digestOf(QStringView id) const {
    return std::uint64_t(qHash(id, size_t(key_)));
}

size_t SeenCommandIds::slotOf(std::uint64_t digest) const {
    const size_t mask = table_.size() - 1;
    for (size_t slot = size_t(digest) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t entry = table_[slot];
        if (entry == 0 || ring_[entry - 1] == digest)
            return slot;
    }
}

void SeenCommandIds::place(std::uint32_t ringIndex) {
    table_[slotOf(ring_[ringIndex])] = ringIndex + 1;
}

void SeenCommandIds::remove(std::uint64_t digest) {
    const size_t mask = table_.size() - 1;
    size_t hole = slotOf(digest);
    table_[hole] = 0;
    // Moves back every later entry of the run that could no longer be found past the hole.
    for (size_t next = (hole + 1) & mask; table_[next] != 0; next = (next + 1) & mask) {
        const size_t home = size_t(ring_[table_[next] - 1]) & mask;
        const bool between = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!between) {
            table_[hole] = table_[next];
            table_[next] = 0;
            hole = next;
        }
    }
}

void SeenCommandIds::growTable() {
    table_.assign(table_.size() * 2, 0);
    for (size_t i = 0; i < ring_.size(); ++i)
        place(std::uint32_t(i));
}

bool SeenCommandIds::insert(QStringView id) {
    const std::uint64_t digest = digestOf(id);
    if (table_[slotOf(digest)] != 0)
        return false;
    if (ring_.size() == capacity_) {
        remove(ring_[oldest_]);
        ring_[oldest_] = digest;
        place(std::uint32_t(oldest_));
        oldest_ = (oldest_ + 1) % capacity_;
        return true;
    }
    if (ring_.size() == ring_.capacity())
        ring_.reserve(std::min(capacity_, std::max<size_t>(1024, ring_.size() * 2)));
    ring_.push_back(digest);
    if ((ring_.size()) * 2 > table_.size())
        growTable();
    else
        place(std::uint32_t(ring_.size() - 1));
    return true;
}

bool SeenCommandIds::contains(QStringView id) const {
    return table_[slotOf(digestOf(id))] != 0;
}
