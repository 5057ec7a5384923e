#pragma once
// A zero-filled byte image of a binary file, filled field by field (little-endian).
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sample_data {

class BinaryImage {
public:
    explicit BinaryImage(std::size_t size) : bytes_(size, 0) {}

    void PutFloat(long offset, float v) { Put(offset, &v, 4); }
    void PutInt16(long offset, std::int16_t v) { Put(offset, &v, 2); }
    void PutByte(long offset, std::uint8_t v) { Put(offset, &v, 1); }
    // Text of at most maxChars characters; the rest of the field stays zero.
    void PutText(long offset, const std::string& text, std::size_t maxChars)
    {
        Put(offset, text.data(), text.size() < maxChars ? text.size() : maxChars);
    }
    const std::vector<unsigned char>& Bytes() const { return bytes_; }
    bool WriteTo(const std::string& path) const;

private:
    void Put(long offset, const void* data, std::size_t size)
    {
        static_assert(std::endian::native == std::endian::little, "little-endian host expected");
        if (offset < 0 || static_cast<std::size_t>(offset) + size > bytes_.size()) return;
        std::memcpy(bytes_.data() + offset, data, size);
    }

    std::vector<unsigned char> bytes_;
};

}  // namespace sample_data
