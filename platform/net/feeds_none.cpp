// Live feeds where the system has none yet (Windows): the serial side's
// calls, which find nothing to serve. network.map is not read there; the
// start-up says so when one is present.
#include "feeds.h"

void feeds_publish(int, const unsigned char *, std::size_t)
{
}

FeedCounts feed_counts(int)
{
    return FeedCounts{};
}

void feeds_stop()
{
}
