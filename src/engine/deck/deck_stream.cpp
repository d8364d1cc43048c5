#include "engine/deck/deck_stream.h"

std::int64_t DeckStream::distance(std::uint64_t from, std::uint64_t to) {
    const std::uint64_t ahead = (to - from) & kIndexMask;
    return ahead > kIndexMask / 2
               ? static_cast<std::int64_t>(ahead) - static_cast<std::int64_t>(kIndexMask + 1)
               : static_cast<std::int64_t>(ahead);
}

DeckStream::ReadableRange DeckStream::readableRange(std::uint32_t epoch) const noexcept {
    const std::uint64_t write = ring_.publishedWriteIndex();
    const std::uint64_t segmentMark = segment_.load(std::memory_order_acquire);
    const std::uint64_t read = ring_.readIndex();
    if (epochOf(segmentMark) != epoch) {
        // An older mark: everything published is stale, the epoch's data comes after it. A
        // newer one: the control word was read just before a command; nothing to drop yet.
        const std::uint32_t behind = (epoch - epochOf(segmentMark)) & DeckControl::kEpochMask;
        const bool older = behind < DeckControl::kEpochMask / 2;
        return {false, older ? write : read, older ? write : read};
    }
    // The write index was read before the mark, so the mark may lie beyond it; then nothing
    // below the write index is the epoch's.
    const std::int64_t sinceStart = distance(indexOf(segmentMark), write);
    if (sinceStart < 0) return {false, write, write};
    const std::uint64_t start = write - static_cast<std::uint64_t>(sinceStart);
    return {true, read < start ? start : read, write};
}
