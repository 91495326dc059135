#include "util/text_buffer.h"

#include <algorithm>
#include <cstring>

namespace velmora::util {

TextBuffer::TextBuffer(std::size_t expectedBytes)
{
    if (expectedBytes > 0)
        grow(expectedBytes);
}

void TextBuffer::append(std::string_view text)
{
    char* at = room(text.size());
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    size_ += text.size();
}

void TextBuffer::grow(std::size_t bytes)
{
    // Doubling keeps the copies of a growing text to about its own size in all.
    const std::size_t capacity = std::max(size_ + bytes, 2 * capacity_);
    // Default-initialised: the bytes are left as they are until the writers fill them.
    std::unique_ptr<char[]> data(new char[capacity]);
    if (size_ > 0)
        std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
}

}  // namespace velmora::util
