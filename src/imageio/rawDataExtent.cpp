#include "imageio/rawDataExtent.h"

#include <algorithm>
#include <set>
#include <vector>

namespace {

constexpr int kMaxDirectories = 64;
constexpr uint16_t kStripOffsets = 273, kStripByteCounts = 279, kTileOffsets = 324, kTileByteCounts = 325;
constexpr uint16_t kSubDirectories = 330, kExifDirectory = 34665;

class tiffWalker {
public:
    tiffWalker(const uint8_t* data, size_t length, bool bigEndian)
        : data_(data), length_(length), big_(bigEndian) {}

    uint32_t get16(size_t at) const {
        return big_ ? uint32_t(data_[at]) << 8 | data_[at + 1] : uint32_t(data_[at + 1]) << 8 | data_[at];
    }
    uint32_t get32(size_t at) const {
        return big_ ? get16(at) << 16 | get16(at + 2) : get16(at + 2) << 16 | get16(at);
    }

    // The values of a SHORT or LONG entry, or none when they do not lie inside the file.
    std::vector<uint64_t> values(size_t entry) const {
        const uint32_t type = get16(entry + 2), count = get32(entry + 4);
        const size_t size = type == 3 ? 2 : type == 4 || type == 13 ? 4 : 0;
        std::vector<uint64_t> out;
        if (size == 0 || count == 0 || count > length_ / size) return out;
        size_t at = entry + 8;
        if (size * count > 4) {
            at = get32(entry + 8);
            if (at > length_ || size * count > length_ - at) return out;
        }
        out.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            out.push_back(size == 2 ? get16(at + i * 2) : get32(at + i * 4));
        return out;
    }

    // Checks one directory and queues the directories it links to; false with `end` past the file.
    bool check(size_t dir, std::vector<size_t>& queue, uint64_t& end) const {
        if (dir + 2 > length_) return true;
        const uint32_t entries = get16(dir);
        if (dir + 2 + size_t(entries) * 12 > length_)
            return true; // a directory that does not fit is LibRaw's to refuse
        std::vector<uint64_t> offsets[2], counts[2];
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t entry = dir + 2 + size_t(i) * 12;
            const uint32_t tag = get16(entry);
            if (tag == kStripOffsets)
                offsets[0] = values(entry);
            else if (tag == kStripByteCounts)
                counts[0] = values(entry);
            else if (tag == kTileOffsets)
                offsets[1] = values(entry);
            else if (tag == kTileByteCounts)
                counts[1] = values(entry);
            else if (tag == kSubDirectories || tag == kExifDirectory)
                for (uint64_t link : values(entry))
                    queue.push_back(size_t(link));
        }
        for (int k = 0; k < 2; ++k) {
            const size_t n = std::min(offsets[k].size(), counts[k].size());
            for (size_t i = 0; i < n; ++i)
                if (offsets[k][i] + counts[k][i] > length_) {
                    end = offsets[k][i] + counts[k][i];
                    return false;
                }
        }
        if (dir + 2 + size_t(entries) * 12 + 4 <= length_)
            queue.push_back(get32(dir + 2 + size_t(entries) * 12));
        return true;
    }

private:
    const uint8_t* data_;
    size_t length_;
    bool big_;
};

} // namespace

namespace halvora {

bool rawPictureDataInsideFile(const uint8_t* data, size_t length, QString& reason) {
    if (length < 8) return true;
    const bool little = data[0] == 'I' && data[1] == 'I', big = data[0] == 'M' && data[1] == 'M';
    if (!little && !big) return true;
    const tiffWalker walker(data, length, big);
    std::vector<size_t> queue{walker.get32(4)};
    std::set<size_t> seen;
    while (!queue.empty() && int(seen.size()) < kMaxDirectories) {
        const size_t dir = queue.back();
        queue.pop_back();
        if (dir < 8 || dir >= length || !seen.insert(dir).second) continue;
        uint64_t end = 0;
        if (!walker.check(dir, queue, end)) {
            reason = QString("the file is cut off: its picture data reach byte %1, but it has only %2 bytes")
                         .arg(end)
                         .arg(length);
            return false;
        }
    }
    return true;
}

} // namespace halvora
