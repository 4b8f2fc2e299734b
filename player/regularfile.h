// A file opened for reading through one descriptor, and only when it is a regular file. What
// is checked is what is read: a name swapped for a pipe between a test and a later open could
// otherwise hold the window for good.
#pragma once

#include <QByteArray>

#include <optional>

class RegularFile {
public:
    // Opens the file of that name (the file system's bytes). Never waits: pipes, devices,
    // folders, missing files and names with a NUL stay unopened.
    explicit RegularFile(const QByteArray &path);
    ~RegularFile();
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // The size when it was opened.
    qint64 size() const { return size_; }
    // At most maxBytes from the start; none when a read fails.
    std::optional<QByteArray> read(qint64 maxBytes);

private:
    int fd_ = -1;
    qint64 size_ = 0;
};
