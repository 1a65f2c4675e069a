#include "remote/SeenCommandIds.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

QString id(size_t n) {
    return QStringLiteral("id-%1").arg(n);
}

} // namespace

// The table remembers the last `capacity` ids and forgets the oldest first, through many wraps of its
// ring and many deletions from its probing table.
TEST(SeenCommandIds, RemembersTheLastCapacityIdsAndForgetsTheOldestFirst) {
    for (const size_t capacity : {size_t(1), size_t(3), size_t(1000), SeenCommandIds::kDefaultCapacity}) {
        SeenCommandIds seen(capacity);
        const size_t total = capacity == SeenCommandIds::kDefaultCapacity ? capacity + 1000 : 5 * capacity + 7;
        for (size_t n = 0; n < total; ++n) {
            ASSERT_TRUE(seen.insert(id(n))) << capacity << ": " << n;
            ASSERT_FALSE(seen.insert(id(n))) << capacity << ": a repeat is refused";
        }
        EXPECT_EQ(seen.size(), capacity);
        const size_t firstKept = total - capacity;
        for (size_t n : {size_t(0), firstKept - 1})
            EXPECT_FALSE(seen.contains(id(n))) << capacity << ": " << n << " is forgotten";
        size_t kept = 0;
        for (size_t n = firstKept; n < total; ++n)
            kept += seen.contains(id(n));
        EXPECT_EQ(kept, capacity);
        // A forgotten id is new again, and recording it forgets the oldest one kept.
        EXPECT_TRUE(seen.insert(id(0)));
        EXPECT_FALSE(seen.contains(id(firstKept)));
        EXPECT_EQ(seen.contains(id(total - 1)), capacity > 1);
    }
}

TEST(SeenCommandIds, AtLeastAMillionIdsByDefault) {
    EXPECT_GE(SeenCommandIds().capacity(), 1'000'000u);
}
