#include "tags.h"

#include "framecheck.h"
#include "tagtext.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vbmp3 {
namespace {

constexpr std::size_t kSmallBlock = 4096;
constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kTextLimit = 4096; // of one frame or item: far more than a record holds
constexpr std::size_t kResyncedLimit = 1 << 20; // of a tag that is unsynchronised as a whole
constexpr std::size_t kApeLimit = 1 << 20;      // of APE items (text items come first)
// Bytes read of an ID3v2 tag: a title behind about a million of the smallest frames is still
// found, and a tag of any size costs a few milliseconds at most.
constexpr int64_t kId3v2Budget = 12 << 20;
// Bytes read at the end of the file: the ID3v1 block, the APE footer and its items.
constexpr int64_t kEndBudget = kApeLimit + kBlock;

// Reads a file through blocks, so that walking a tag of many small frames costs one system
// call per block rather than one per frame, and reads no more than its budget of bytes.
class BlockReader {
public:
    BlockReader(int fd, int64_t budget) : fd_(fd), size_(fileSize(fd)), budget_(budget) {}
    int64_t size() const { return size_; }

    // n bytes at offset (n <= kBlock), or nullptr when the file or the budget ends before.
    const unsigned char *at(int64_t offset, std::size_t n)
    {
        if (offset < 0 || n > kBlock || offset + static_cast<int64_t>(n) > size_)
            return nullptr;
        const int64_t filledEnd = start_ + static_cast<int64_t>(filled_);
        if (offset < start_ || offset + static_cast<int64_t>(n) > filledEnd) {
            // Reading on from the last block reads more at a time; a jump over a large frame
            // reads little, as only the next frame's header is wanted.
            const bool onward = offset >= start_ && offset <= filledEnd;
            blockSize_ = onward ? std::min(blockSize_ * 2, kBlock) : kSmallBlock;
            filled_ = 0;
            start_ = offset;
            if (!readFully(offset, block_.get(),
                           std::min<int64_t>(static_cast<int64_t>(std::max(n, blockSize_)),
                                             size_ - offset),
                           filled_) ||
                filled_ < n)
                return nullptr;
        }
        return block_.get() + (offset - start_);
    }

    bool read(int64_t offset, std::size_t n, std::vector<unsigned char> &out)
    {
        out.resize(n);
        std::size_t got = 0;
        return offset >= 0 && readFully(offset, out.data(), static_cast<int64_t>(n), got) &&
               got == n;
    }

private:
    bool readFully(int64_t offset, unsigned char *to, int64_t n, std::size_t &got)
    {
        if (n > budget_)
            return false;
        budget_ -= n;
        while (static_cast<int64_t>(got) < n) {
            const ssize_t r = ::pread(fd_, to + got, static_cast<std::size_t>(n) - got,
                                      static_cast<off_t>(offset) + static_cast<off_t>(got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    }

    int fd_;
    int64_t size_;
    int64_t budget_;
    std::unique_ptr<unsigned char[]> block_{new unsigned char[kBlock]};
    std::size_t blockSize_ = kSmallBlock;
    int64_t start_ = -1;
    std::size_t filled_ = 0;
};

uint32_t bigEndian(const unsigned char *p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

uint32_t littleEndian32(const unsigned char *p)
{
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint32_t syncsafe(const unsigned char *p)
{
    return (uint32_t{p[0] & 0x7Fu} << 21) | (uint32_t{p[1] & 0x7Fu} << 14) |
           (uint32_t{p[2] & 0x7Fu} << 7) | (p[3] & 0x7Fu);
}

// Undoes ID3v2 unsynchronisation: every FF 00 was written for a plain FF.
void resync(std::vector<unsigned char> &data)
{
    std::size_t out = 0;
    for (std::size_t in = 0; in < data.size(); ++in) {
        data[out++] = data[in];
        if (data[in] == 0xFF && in + 1 < data.size() && data[in + 1] == 0)
            ++in;
    }
    data.resize(out);
}

std::string trimmedEightBit(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\0'));
    while (!bytes.empty() && bytes.back() == ' ')
        bytes.remove_suffix(1); // ID3v1 pads its fixed fields with blanks
    return eightBitToUtf8(bytes);
}

// The text of an ID3v2 text frame body (encoding byte, then the text): values separated by
// the encoding's terminator are joined by blanks. Japanese taggers stored Shift_JIS in the
// frames that ID3 calls ISO-8859-1.
std::string frameText(const std::vector<unsigned char> &body)
{
    if (body.empty())
        return {};
    const int encoding = body[0];
    const std::size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
    std::string joined;
    std::size_t start = 1;
    auto append = [&](std::size_t end) {
        if (end <= start)
            return;
        const std::string_view bytes(reinterpret_cast<const char *>(body.data() + start),
                                     end - start);
        std::string text;
        if (encoding == 0)
            text = eightBitToUtf8(bytes);
        else if (encoding <= 2)
            text = utf16ToUtf8(bytes, encoding == 1);
        else if (encoding == 3)
            text = validUtf8(bytes);
        if (!text.empty())
            joined += (joined.empty() ? "" : " ") + text;
    };
    std::size_t end = body.size() - (body.size() - 1) % unit;
    for (std::size_t i = 1; i + unit <= end; i += unit) {
        if (body[i] == 0 && (unit == 1 || body[i + 1] == 0)) {
            append(i);
            start = i + unit;
        }
    }
    append(end);
    return joined;
}

using ByteSource = std::function<const unsigned char *(int64_t offset, std::size_t n)>;
using RangeReader =
    std::function<bool(int64_t offset, std::size_t n, std::vector<unsigned char> &)>;

// A frame as the walk meets it, its body not read yet.
struct Id3v2Frame {
    std::string_view id;
    int64_t size; // of its body as stored; 0 when it cannot be read (compressed, encrypted)
    // The first n bytes of its body (n <= size), unsynchronisation undone.
    std::function<bool(std::size_t n, std::vector<unsigned char> &)> read;
};
// Returns false to end the walk.
using FrameVisitor = std::function<bool(const Id3v2Frame &)>;

// Walks the frame headers of an ID3v2 body of `size` bytes; only what the visitor asks for is
// read, so a tag of a million tiny frames or of one huge picture costs little.
void walkId3v2(const ByteSource &at, const RangeReader &read, int64_t size, int major,
               bool tagUnsync, const FrameVisitor &visit)
{
    const int idBytes = major == 2 ? 3 : 4;
    const int headerBytes = major == 2 ? 6 : 10;
    int64_t pos = 0;
    while (pos + headerBytes <= size) {
        const unsigned char *h = at(pos, static_cast<std::size_t>(headerBytes));
        if (!h)
            return;
        for (int i = 0; i < idBytes; ++i)
            if (!((h[i] >= 'A' && h[i] <= 'Z') || (h[i] >= '0' && h[i] <= '9')))
                return; // padding, or the end of what makes sense
        const int64_t frameSize = major == 2   ? bigEndian(h + 3, 3)
                                  : major == 3 ? bigEndian(h + 4, 4)
                                               : syncsafe(h + 4);
        const std::string_view id(reinterpret_cast<const char *>(h),
                                  static_cast<std::size_t>(idBytes));
        const int64_t bodyStart = pos + headerBytes;
        pos = bodyStart + frameSize;
        if (frameSize <= 0 || pos > size)
            return;
        int64_t skip = 0;
        bool unsync = tagUnsync && major == 4;
        bool readable = true;
        if (major == 3) {
            readable = (h[9] & 0xC0) == 0; // neither compressed nor encrypted
            skip = (h[9] & 0x20) ? 1 : 0;
        } else if (major == 4) {
            readable = (h[9] & 0x0C) == 0;
            skip = ((h[9] & 0x40) ? 1 : 0) + ((h[9] & 0x01) ? 4 : 0);
            unsync = unsync || (h[9] & 0x02);
        }
        const Id3v2Frame frame{id, readable ? std::max<int64_t>(frameSize - skip, 0) : 0,
                               [&](std::size_t n, std::vector<unsigned char> &body) {
                                   if (!read(bodyStart + skip, n, body))
                                       return false;
                                   if (unsync)
                                       resync(body);
                                   return true;
                               }};
        if (!visit(frame))
            return;
    }
}

// Walks the ID3v2 tag at the start of the file. A tag unsynchronised as a whole, frame headers
// included, is walked in its first `resyncedLimit` bytes only.
void readId3v2(BlockReader &file, std::size_t resyncedLimit, const FrameVisitor &visit)
{
    const unsigned char *h = file.at(0, 10);
    if (!h || id3v2Size(h, 10) == 0 || h[3] < 2 || h[3] > 4)
        return;
    const int major = h[3];
    const bool unsync = (h[5] & 0x80) != 0;
    const bool extended = major >= 3 && (h[5] & 0x40) != 0;
    int64_t begin = 10;
    const int64_t end = std::min<int64_t>(10 + syncsafe(h + 6), file.size());
    if (unsync && major <= 3) {
        std::vector<unsigned char> body;
        if (!file.read(begin,
                       static_cast<std::size_t>(
                           std::min<int64_t>(end - begin, static_cast<int64_t>(resyncedLimit))),
                       body))
            return;
        resync(body);
        std::size_t from = 0;
        if (extended && body.size() >= 4)
            from = 4 + bigEndian(body.data(), 4);
        if (from >= body.size())
            return;
        const unsigned char *data = body.data() + from;
        const auto size = static_cast<int64_t>(body.size() - from);
        auto at = [&](int64_t offset, std::size_t n) {
            return offset + static_cast<int64_t>(n) <= size ? data + offset : nullptr;
        };
        auto read = [&](int64_t offset, std::size_t n, std::vector<unsigned char> &out) {
            if (offset + static_cast<int64_t>(n) > size)
                return false;
            out.assign(data + offset, data + offset + n);
            return true;
        };
        walkId3v2(at, read, size, major, false, visit);
        return;
    }
    if (extended) {
        const unsigned char *e = file.at(begin, 4);
        if (!e)
            return;
        begin += major == 3 ? 4 + bigEndian(e, 4) : syncsafe(e);
    }
    auto at = [&](int64_t offset, std::size_t n) { return file.at(begin + offset, n); };
    auto read = [&](int64_t offset, std::size_t n, std::vector<unsigned char> &out) {
        return file.read(begin + offset, n, out);
    };
    walkId3v2(at, read, end - begin, major, unsync, visit);
}

// The title and artist frames, read no further than a record holds.
void readId3v2Text(BlockReader &file, TrackTags &tags)
{
    readId3v2(file, kResyncedLimit, [&](const Id3v2Frame &frame) {
        std::string *field = frame.id == "TIT2" || frame.id == "TT2"   ? &tags.title
                             : frame.id == "TPE1" || frame.id == "TP1" ? &tags.artist
                                                                       : nullptr;
        if (field && field->empty() && frame.size > 0) {
            std::vector<unsigned char> body;
            if (!frame.read(static_cast<std::size_t>(
                                std::min<int64_t>(frame.size, static_cast<int64_t>(kTextLimit))),
                            body))
                return false;
            *field = frameText(body);
        }
        return tags.title.empty() || tags.artist.empty();
    });
}

bool isJpegOrPng(const std::vector<unsigned char> &data, std::size_t from)
{
    static constexpr unsigned char jpeg[] = {0xFF, 0xD8, 0xFF};
    static constexpr unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto startsWith = [&](const auto &magic) {
        return data.size() - from >= sizeof magic &&
               std::equal(std::begin(magic), std::end(magic),
                          data.begin() + static_cast<std::ptrdiff_t>(from));
    };
    return from <= data.size() && (startsWith(jpeg) || startsWith(png));
}

// Where the picture data of an APIC (or ID3v2.2 PIC) body starts, and its picture type;
// nullopt for a body cut short.
std::optional<std::pair<std::size_t, int>> pictureData(const std::vector<unsigned char> &body,
                                                       bool v22)
{
    if (body.size() < 2)
        return std::nullopt;
    const int encoding = body[0];
    std::size_t at = 1;
    if (v22) {
        at += 3; // the image format, "JPG" or "PNG"
    } else {
        const auto mimeEnd = std::find(body.begin() + 1, body.end(), 0);
        if (mimeEnd == body.end())
            return std::nullopt;
        at = static_cast<std::size_t>(mimeEnd - body.begin()) + 1;
    }
    if (at >= body.size())
        return std::nullopt;
    const int type = body[at++];
    // The description ends with the encoding's terminator: two NULs in UTF-16.
    const std::size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
    for (; at + unit <= body.size(); at += unit) {
        if (body[at] == 0 && (unit == 1 || body[at + 1] == 0))
            return std::pair{at + unit, type};
    }
    return std::nullopt;
}

// APEv2 (or v1) at the end of the file, before an ID3v1 block if there is one.
void readApe(BlockReader &file, int64_t end, TrackTags &tags)
{
    const unsigned char *footer = file.at(end - 32, 32);
    if (!footer || std::memcmp(footer, "APETAGEX", 8) != 0)
        return;
    const int64_t itemsSize = static_cast<int64_t>(littleEndian32(footer + 12)) - 32;
    const int64_t itemsStart = end - 32 - itemsSize;
    std::vector<unsigned char> items;
    if (itemsSize <= 0 || itemsStart < 0 ||
        !file.read(itemsStart, static_cast<std::size_t>(std::min<int64_t>(itemsSize, kApeLimit)),
                   items))
        return;
    std::size_t pos = 0;
    for (uint32_t count = littleEndian32(footer + 16); count > 0 && pos + 8 < items.size();
         --count) {
        const uint32_t valueSize = littleEndian32(items.data() + pos);
        const uint32_t flags = littleEndian32(items.data() + pos + 4);
        const auto keyEnd =
            std::find(items.begin() + static_cast<std::ptrdiff_t>(pos + 8), items.end(), 0);
        if (keyEnd == items.end())
            return;
        std::string key(items.begin() + static_cast<std::ptrdiff_t>(pos + 8), keyEnd);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const std::size_t valueStart = static_cast<std::size_t>(keyEnd - items.begin()) + 1;
        if (valueSize > items.size() - std::min(items.size(), valueStart))
            return;
        std::string *field = key == "title"    ? &tags.title
                             : key == "artist" ? &tags.artist
                                               : nullptr;
        if (field && field->empty() && (flags & 6) == 0) {
            std::string value(items.begin() + static_cast<std::ptrdiff_t>(valueStart),
                              items.begin() + static_cast<std::ptrdiff_t>(valueStart + valueSize));
            std::replace(value.begin(), value.end(), '\0', ' '); // several values
            *field = validUtf8(value);
        }
        pos = valueStart + valueSize;
    }
}

} // namespace

TrackTags readTags(int fd)
{
    TrackTags tags;
    BlockReader front(fd, kId3v2Budget);
    readId3v2Text(front, tags);
    BlockReader file(fd, kEndBudget);
    int64_t end = file.size();
    const unsigned char *v1 = file.at(end - 128, 128);
    const bool hasV1 = v1 && std::memcmp(v1, "TAG", 3) == 0;
    const std::string v1Title =
        hasV1 ? trimmedEightBit(std::string_view(reinterpret_cast<const char *>(v1) + 3, 30)) : "";
    const std::string v1Artist =
        hasV1 ? trimmedEightBit(std::string_view(reinterpret_cast<const char *>(v1) + 33, 30)) : "";
    if (hasV1)
        end -= 128;
    TrackTags ape;
    readApe(file, end, ape);
    for (auto [field, fromApe, fromV1] : {std::tuple{&tags.title, &ape.title, &v1Title},
                                          std::tuple{&tags.artist, &ape.artist, &v1Artist}}) {
        if (field->empty())
            *field = !fromApe->empty() ? *fromApe : *fromV1;
    }
    return tags;
}

std::vector<unsigned char> readPicture(int fd, std::size_t limit)
{
    // An unsynchronised frame stores up to twice its bytes, and a description comes first.
    const std::size_t frameLimit = 2 * limit + kBlock;
    std::vector<unsigned char> found;
    BlockReader file(fd, kId3v2Budget);
    readId3v2(file, frameLimit, [&](const Id3v2Frame &frame) {
        if ((frame.id != "APIC" && frame.id != "PIC") || frame.size <= 0 ||
            frame.size > static_cast<int64_t>(frameLimit))
            return true;
        std::vector<unsigned char> body;
        if (!frame.read(static_cast<std::size_t>(frame.size), body))
            return false;
        const auto data = pictureData(body, frame.id == "PIC");
        if (!data || body.size() - data->first > limit || !isJpegOrPng(body, data->first))
            return true;
        const bool frontCover = data->second == 3;
        if (found.empty() || frontCover)
            found.assign(body.begin() + static_cast<std::ptrdiff_t>(data->first), body.end());
        return !frontCover;
    });
    return found;
}

} // namespace vbmp3
