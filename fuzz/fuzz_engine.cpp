// Feeds arbitrary bytes to the engine as a file: the frame check, the tags (ID3v2 frame walk,
// APE, ID3v1, the picture), the length headers (Xing, Info, VBRI), decoding, and seeks near and
// far. Nothing may crash, hang or leak.
#include "decoder.h"

#include <vbmp3.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

// The bytes live in an anonymous in-memory file reached by path, as the engine only takes paths.
struct MemoryFile {
    int fd = memfd_create("kelpa-fuzz", 0);
    char path[64] = {};
    MemoryFile(const uint8_t *data, size_t size)
    {
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        if (fd >= 0 && size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size))
            path[0] = '\0';
    }
    ~MemoryFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryFile file(data, size);
    if (file.fd < 0 || file.path[0] == '\0')
        return 0;
    Vbmp3TagRecord tag{};
    Vbmp3StreamRecord stream{};
    const bool track = vbmp3_getFileInfo(file.path, &tag, &stream) != 0;
    std::vector<unsigned char> picture(1 << 20);
    vbmp3_getPicture(file.path, picture.data(), static_cast<int32_t>(picture.size()));
    Vbmp3OpenRecord record{};
    const bool opened = vbmp3_open(file.path, &record) != 0;
    vbmp3_close();
    // Decode the whole input: every path through libmpg123 that the engine thread can take.
    vbmp3::FrameHeader first;
    const int fd = track && opened ? vbmp3::openRegularFile(file.path) : -1;
    if (fd >= 0 && !vbmp3::probeMpegFile(fd, first))
        ::close(fd);
    else if (fd >= 0) {
        if (auto decoder = vbmp3::Decoder::open(fd, first)) {
            std::vector<unsigned char> buffer(16384);
            std::size_t written = 0;
            for (int rounds = 0; rounds < 256; ++rounds) {
                if (decoder->read(buffer.data(), buffer.size(), written) ==
                    vbmp3::Decoder::ReadResult::Ended)
                    break;
            }
            // A near seek (read through) and far ones (jumps by bytes), past the end included.
            for (const int64_t target :
                 {int64_t{0}, decoder->totalFrames() / 2, decoder->totalFrames() * 9 / 10,
                  decoder->totalFrames() + 100000}) {
                decoder->seek(target);
                decoder->read(buffer.data(), buffer.size(), written);
            }
        }
    }
    return 0;
}
