#pragma once
// The picture size an H.264 access unit's sequence parameter set announces, read without a decoder:
// both H.264 decoders refuse a stream whose pictures are too large before libavcodec allocates them.
// Header only, without dependencies, so that the archive and the live decoder share it.

#include <cstddef>
#include <cstdint>

namespace nyx::codecs::h264 {
// Pictures the decoders take: up to 8192 x 4320, either way round.
constexpr int kMaxPictureSide = 8192;
constexpr std::int64_t kMaxPicturePixels = 8192LL * 4320;
// libavcodec's own bound behind the check of the parameter sets: it counts the picture with the
// padding of its buffers, so it leaves room for that.
constexpr std::int64_t kDecoderPixelLimit = (8192LL + 128) * (4320 + 128);

inline bool pictureSizeAllowed(std::int64_t width, std::int64_t height)
{
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}

namespace detail {
// Reads the bits of one NAL unit's payload, skipping emulation prevention bytes. Reading past the
// end sets failed and gives zeros.
class BitReader
{
public:
    BitReader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool failed() const { return m_failed; }

    unsigned bit()
    {
        if (m_bit == 0) {
            if (m_pos >= m_size) {
                m_failed = true;
                return 0;
            }
            // 00 00 03: the 03 is no payload.
            if (m_pos >= 2 && m_data[m_pos] == 3 && m_data[m_pos - 1] == 0 && m_data[m_pos - 2] == 0 &&
                !m_skipped) {
                m_skipped = true;
                ++m_pos;
                return bit();
            }
            m_skipped = false;
            m_byte = m_data[m_pos++];
            m_bit = 8;
        }
        --m_bit;
        return (m_byte >> m_bit) & 1u;
    }
    std::uint32_t bits(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    // Exp-Golomb; values beyond 32 bits fail.
    std::uint32_t ue()
    {
        int zeros = 0;
        while (bit() == 0) {
            if (m_failed || ++zeros > 31) {
                m_failed = true;
                return 0;
            }
        }
        return static_cast<std::uint32_t>((std::uint64_t(1) << zeros) - 1 + bits(zeros));
    }
    std::int32_t se()
    {
        const std::uint32_t v = ue();
        return (v & 1) ? static_cast<std::int32_t>((v + 1) / 2) : -static_cast<std::int32_t>(v / 2);
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::uint8_t m_byte = 0;
    int m_bit = 0;
    bool m_skipped = false;
    bool m_failed = false;
};

inline bool skipScalingList(BitReader &r, int size)
{
    int last = 8, next = 8;
    for (int j = 0; j < size && !r.failed(); ++j) {
        if (next != 0)
            next = (last + r.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
    return !r.failed();
}

// The coded picture size of a sequence parameter set's payload (after its NAL header byte).
inline bool spsPictureSize(const std::uint8_t *data, std::size_t size, std::int64_t *width,
                           std::int64_t *height)
{
    BitReader r(data, size);
    const std::uint32_t profile = r.bits(8);
    r.bits(16); // constraint flags, level
    r.ue();     // id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
        profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
        profile == 139 || profile == 134 || profile == 135) {
        const std::uint32_t chroma = r.ue();
        if (chroma == 3)
            r.bit(); // separate colour planes
        r.ue();      // luma bit depth
        r.ue();      // chroma bit depth
        r.bit();     // transform bypass
        if (r.bit()) {
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i)
                if (r.bit() && !skipScalingList(r, i < 6 ? 16 : 64))
                    return false;
        }
    }
    r.ue(); // log2 of the largest frame number
    const std::uint32_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.bit();
        r.se();
        r.se();
        const std::uint32_t cycle = r.ue();
        for (std::uint32_t i = 0; i < cycle && i < 256 && !r.failed(); ++i)
            r.se();
    }
    r.ue();  // reference frames
    r.bit(); // gaps allowed
    const std::uint32_t widthMbs = r.ue();
    const std::uint32_t heightUnits = r.ue();
    const std::uint32_t frameMbsOnly = r.bit();
    if (r.failed())
        return false;
    // Capped so that the product stays in range; anything near the cap is refused anyway.
    constexpr std::uint32_t kCap = 1u << 20;
    *width = (std::int64_t(widthMbs < kCap ? widthMbs : kCap) + 1) * 16;
    *height = (std::int64_t(heightUnits < kCap ? heightUnits : kCap) + 1) * 16 * (frameMbsOnly ? 1 : 2);
    return true;
}
} // namespace detail

// The largest picture size announced by a sequence parameter set in the Annex-B data; false when it
// holds none that can be read.
inline bool announcedPictureSize(const std::uint8_t *data, std::size_t size, std::int64_t *width,
                                 std::int64_t *height)
{
    bool found = false;
    *width = *height = 0;
    for (std::size_t i = 0; data && i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const std::size_t start = i + 3;
        if ((data[start] & 0x1F) == 7) {
            std::size_t end = start + 1;
            while (end + 2 < size && !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] <= 1))
                ++end;
            if (end + 2 >= size)
                end = size;
            std::int64_t w = 0, h = 0;
            if (detail::spsPictureSize(data + start + 1, end - start - 1, &w, &h)) {
                found = true;
                if (w * h > *width * *height) {
                    *width = w;
                    *height = h;
                }
            }
        }
        i += 2;
    }
    return found;
}
} // namespace nyx::codecs::h264
