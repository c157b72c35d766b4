#pragma once
// A tiny H.264 access unit written bit by bit as a hostile camera would send it: parameter sets that
// announce any picture size, and an IDR slice whose header is complete and whose data is short.
// Decoders that believe the size allocate pictures of it as soon as the slice arrives.

#include <QByteArray>
#include <vector>

namespace craftedh264 {
class Bits
{
public:
    void bit(unsigned b) { m_bits.push_back(b & 1); }
    void bits(unsigned value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            bit(value >> i);
    }
    void ue(unsigned value)
    {
        const unsigned long long v = static_cast<unsigned long long>(value) + 1;
        int n = 0;
        while ((v >> n) > 1)
            ++n;
        bits(0, n);
        for (int i = n; i >= 0; --i)
            bit(unsigned(v >> i));
    }
    // A NAL unit with its start code: header byte, payload, stop bit, emulation prevention.
    QByteArray nal(int header)
    {
        bit(1);
        while (m_bits.size() % 8)
            bit(0);
        QByteArray raw;
        for (std::size_t i = 0; i < m_bits.size(); i += 8) {
            int byte = 0;
            for (int j = 0; j < 8; ++j)
                byte = (byte << 1) | m_bits[i + std::size_t(j)];
            raw.append(char(byte));
        }
        QByteArray out("\x00\x00\x00\x01", 4);
        out.append(char(header));
        int zeros = 0;
        for (char c : raw) {
            if (zeros >= 2 && static_cast<unsigned char>(c) <= 3) {
                out.append('\x03');
                zeros = 0;
            }
            out.append(c);
            zeros = c == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    std::vector<int> m_bits;
};

// SPS (baseline), PPS and an IDR slice announcing width x height (multiples of 16).
inline QByteArray accessUnit(unsigned width, unsigned height)
{
    Bits sps;
    sps.bits(66, 8); // baseline
    sps.bits(0, 8);  // constraint flags
    sps.bits(51, 8); // level 5.1
    sps.ue(0);       // id
    sps.ue(0);       // log2 of the largest frame number - 4
    sps.ue(2);       // picture order count type
    sps.ue(1);       // reference frames
    sps.bit(0);      // gaps
    sps.ue(width / 16 - 1);
    sps.ue(height / 16 - 1);
    sps.bit(1); // frames only
    sps.bit(1); // direct 8x8
    sps.bit(0); // cropping
    sps.bit(0); // VUI
    Bits pps;
    pps.ue(0);      // id
    pps.ue(0);      // SPS id
    pps.bit(0);     // CAVLC
    pps.bit(0);     // bottom field order
    pps.ue(0);      // slice groups - 1
    pps.ue(0);      // references l0 - 1
    pps.ue(0);      // references l1 - 1
    pps.bit(0);     // weighted prediction
    pps.bits(0, 2); // weighted bi-prediction
    pps.ue(0);      // QP - 26 (se 0)
    pps.ue(0);      // QS - 26
    pps.ue(0);      // chroma QP offset
    pps.bit(1);     // deblocking control present
    pps.bit(0);     // constrained intra
    pps.bit(0);     // redundant picture count
    Bits slice;
    slice.ue(0);      // first macroblock
    slice.ue(7);      // I slice
    slice.ue(0);      // PPS id
    slice.bits(0, 4); // frame number
    slice.ue(0);      // IDR picture id
    slice.bit(0);     // no output of prior pictures
    slice.bit(0);     // long-term reference
    slice.ue(0);      // QP delta (se 0)
    slice.ue(1);      // deblocking off
    for (int i = 0; i < 64; ++i)
        slice.bits(0xA5 ^ i, 8);
    return sps.nal(0x67) + pps.nal(0x68) + slice.nal(0x65);
}
} // namespace craftedh264
