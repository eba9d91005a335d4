#include "video/PictureIndex.h"

#include <algorithm>

namespace Quillmark {

void PictureIndex::addPacket(int64_t time, bool key, bool shown)
{
    if (shown)
        times.push_back(time);
    if (key)
        keys.push_back(time);
}

void PictureIndex::finish()
{
    std::sort(times.begin(), times.end());
    // Two packets with one time stamp cannot be told apart once decoded.
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

int PictureIndex::pictureAt(int64_t time) const
{
    const auto it = std::lower_bound(times.begin(), times.end(), time);
    if (it == times.end() || *it != time)
        return -1;
    return int(it - times.begin());
}

int PictureIndex::keyBefore(int picture) const
{
    const int64_t time = timeOf(picture);
    const auto it = std::upper_bound(keys.begin(), keys.end(), time);
    return it == keys.begin() ? 0 : int(it - keys.begin()) - 1;
}

int PictureIndex::firstPictureFrom(int key) const
{
    const auto it = std::lower_bound(times.begin(), times.end(), keyTime(key));
    return int(it - times.begin());
}

} // namespace Quillmark
