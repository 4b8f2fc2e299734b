#include "regularfile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFile::RegularFile(const QByteArray &path)
{
    // A name with a NUL in it would reach the file system cut short, naming some other file.
    if (path.isEmpty() || path.contains('\0'))
        return;
    // Refused before opening: opening a device can have effects of its own (a tape rewinds).
    struct stat named {};
    if (::stat(path.constData(), &named) != 0 || !S_ISREG(named.st_mode))
        return;
    // Non-blocking, in case the name has become a pipe meanwhile; fstat then tells whether
    // what was opened is the very file that was checked.
    fd_ = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat opened {};
    if (fd_ >= 0 && (::fstat(fd_, &opened) != 0 || !S_ISREG(opened.st_mode) ||
                     opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = fd_ >= 0 ? opened.st_size : 0;
}

RegularFile::~RegularFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<QByteArray> RegularFile::read(qint64 maxBytes)
{
    if (fd_ < 0)
        return std::nullopt;
    QByteArray bytes;
    // The file may have grown since it was opened; what lies past maxBytes is not read.
    bytes.resize(qMin(size_, maxBytes));
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled >= maxBytes)
                break;
            bytes.resize(qMin<qint64>(maxBytes, filled + 65536));
        }
        const ssize_t got = ::read(fd_, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}
