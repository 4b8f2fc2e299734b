#include "lengthcache.h"

#include <sys/stat.h>

namespace vbmp3 {

bool LengthCache::identify(int fd, Identity &identity)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    identity = {st.st_dev, st.st_ino, static_cast<int64_t>(st.st_size),
                static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    return true;
}

int64_t LengthCache::lookUp(const Identity &identity) const
{
    const std::lock_guard lock(mutex_);
    const auto found = frames_.find(identity);
    return found == frames_.end() ? -1 : found->second;
}

int64_t LengthCache::find(int fd) const
{
    Identity identity;
    return identify(fd, identity) ? lookUp(identity) : -1;
}

void LengthCache::countOnce(int fd, const std::function<int64_t()> &count)
{
    Identity before;
    if (!identify(fd, before) || lookUp(before) >= 0)
        return;
    const int64_t frames = count();
    Identity after;
    if (frames < 0 || !identify(fd, after) || after != before)
        return;
    const std::lock_guard lock(mutex_);
    if (!frames_.insert_or_assign(before, frames).second)
        return; // counted meanwhile by another thread, already in the order
    order_.push_back(before);
    if (order_.size() > capacity_) {
        frames_.erase(order_.front());
        order_.pop_front();
    }
}

} // namespace vbmp3
