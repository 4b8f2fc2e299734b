#include "tags.h"

#include "sjis.h"

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>
#include <taglib/tdebuglistener.h>

#include <mutex>

namespace vbmp3 {
namespace {

std::string_view untilNul(const TagLib::ByteVector &data)
{
    std::string_view bytes(data.data(), data.size());
    return bytes.substr(0, bytes.find('\0'));
}

// Japanese taggers stored Shift_JIS in the fields that ID3 calls ISO-8859-1.
class EightBitHandler final : public TagLib::ID3v2::Latin1StringHandler
{
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        return TagLib::String(eightBitToUtf8(untilNul(data)), TagLib::String::UTF8);
    }
};

class Id3v1Handler final : public TagLib::ID3v1::StringHandler
{
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        std::string_view bytes = untilNul(data);
        while (!bytes.empty() && bytes.back() == ' ')
            bytes.remove_suffix(1); // ID3v1 pads its fixed fields with blanks
        return TagLib::String(eightBitToUtf8(bytes), TagLib::String::UTF8);
    }
};

class QuietListener final : public TagLib::DebugListener
{
public:
    void printMessage(const TagLib::String &) override {}
};

void installHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static EightBitHandler id3v2;
        static Id3v1Handler id3v1;
        static QuietListener quiet;
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        TagLib::setDebugListener(&quiet);
    });
}

std::string utf8(const TagLib::String &text) { return text.to8Bit(true); }

} // namespace

TrackTags readTags(int fd)
{
    installHandlers();
    TrackTags tags;
    TagLib::FileStream stream(fd, true);
    // Audio properties are not needed: the length comes from the decoder, which is exact.
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isOpen())
        return tags;
    // The MPEG file's own tag already merges ID3v2, APE and ID3v1 in that order per field.
    const TagLib::Tag *tag = file.tag();
    if (!tag)
        return tags;
    tags.title = utf8(tag->title());
    tags.artist = utf8(tag->artist());
    return tags;
}

} // namespace vbmp3
