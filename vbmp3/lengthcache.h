// Lengths counted frame by frame, kept so that opening a file never has to count: a track is
// counted where its tags are read, on a worker thread, and opened later on the UI thread. A
// length is kept for the file as it was when counted (device, inode, size and modification
// time), so a file changed since is not given a stale length.
#pragma once

#include <sys/types.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace vbmp3 {

class LengthCache {
public:
    // Keeps the lengths of the last `capacity` files counted.
    explicit LengthCache(std::size_t capacity) : capacity_(capacity) {}

    // Sample frames counted for the file open at fd as it is now; -1 when none were.
    int64_t find(int fd) const;

    // Unless a length is kept for the file as it is now, counts it with `count` (no lock held
    // meanwhile) and keeps what it gives, provided the file did not change while it was read.
    void countOnce(int fd, const std::function<int64_t()> &count);

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        int64_t size = 0;
        int64_t modifiedNs = 0;
        auto operator<=>(const Identity &) const = default;
    };
    static bool identify(int fd, Identity &identity);
    int64_t lookUp(const Identity &identity) const;

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::map<Identity, int64_t> frames_;
    std::deque<Identity> order_; // oldest first, for dropping when full
};

} // namespace vbmp3
