// A growing text written through a plain pointer. Formatters write each number straight into the
// room the buffer hands out and keep what they wrote, so a table of millions of numbers costs no
// string append (and no library copy) per number. The storage is not cleared when it grows: each
// byte is first touched by the writer that fills it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace velmora::util {

class TextBuffer {
public:
    explicit TextBuffer(std::size_t expectedBytes = 0);

    // Room for `bytes` more characters after the text; write them and pass the end to keep().
    char* room(std::size_t bytes)
    {
        if (capacity_ - size_ < bytes)
            grow(bytes);
        return data_.get() + size_;
    }
    void keep(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }

    void append(std::string_view text);
    void append(char c)
    {
        *room(1) = c;
        ++size_;
    }

    std::string_view view() const { return {data_.get(), size_}; }
    std::size_t size() const { return size_; }
    // Empties the text and keeps the storage for the next one.
    void clear() { size_ = 0; }

private:
    void grow(std::size_t bytes);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace velmora::util
