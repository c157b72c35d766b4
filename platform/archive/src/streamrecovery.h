#pragma once
// Brings a stream's index back in line with its segments when no writer holds it: closes the sequences
// a writer that is gone left open, takes the whole frames it wrote after its last commit into the index
// (synced first), cuts the torn tail behind them, and rebuilds a stream the index does not know (a new or
// lost index) from its segments.

#include "framestore.h"

namespace nyx::archive {
class StreamRecovery
{
public:
    explicit StreamRecovery(FrameStore &store) : m_store(store) {}
    // Entered with the store's lock held.
    HRESULT recover(std::int64_t stream, const QString &folder);

private:
    bool indexFrame(std::int64_t stream, std::int64_t seq, std::int64_t seg, std::int64_t offset,
                    const segment::FrameHeader &header, const std::vector<std::uint8_t> &frame,
                    const std::map<std::uint32_t, std::uint8_t> &flags);
    HRESULT takeTail(std::int64_t stream, const QString &folder, std::int64_t *taken);
    HRESULT rebuildStream(std::int64_t stream, const QString &folder);
    bool knowsStream(std::int64_t stream);

    FrameStore &m_store;
};
} // namespace nyx::archive
