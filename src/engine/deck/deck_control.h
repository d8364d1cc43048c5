#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

// The play state of one deck together with the epoch it belongs to, in one atomic word, so
// that a command and the end of a track can never both win. Who may move it from where is
// written at the top of deck_stream.h.
class DeckControl {
public:
    enum class Phase : std::uint8_t {
        Stopped,  // by a command; the position is where the command put it
        Paused,
        Playing,
        Ended,  // the last sample was played: reads as stopped, rewound
        // The last sample was played and the cued next file sounds on right behind it; reads
        // as stopped until the UI adopts that file and plays it.
        Cued,
    };
    struct Word {
        std::uint32_t epoch = 0;
        Phase phase = Phase::Stopped;
        friend bool operator==(const Word&, const Word&) = default;
    };

    // Epochs wrap at 24 bits, like every word that names one.
    static constexpr std::uint32_t kEpochMask = (1u << 24) - 1;
    static std::uint32_t nextEpoch(std::uint32_t epoch) { return (epoch + 1) & kEpochMask; }

    Word load(std::memory_order order) const { return unpack(bits.load(order)); }

    // The phase a seek leaves: playing, paused or stopped stay so; a track that has ended
    // stays stopped where the seek puts it.
    static Phase afterSeek(Phase phase) {
        return phase == Phase::Ended || phase == Phase::Cued ? Phase::Stopped : phase;
    }

    // The one way to change the word. `next` maps the word seen to the word wanted, or to
    // nullopt to leave it as it is; it is asked again whenever another thread changed the word
    // in between, so a decision is always made on the word it replaces. Returns the word left
    // in place. Acquire-release: whoever sees the new word sees what its writer did before.
    template <typename Next>
    Word change(Next next) noexcept {
        std::uint64_t seen = bits.load(std::memory_order_acquire);
        for (;;) {
            const std::optional<Word> wanted = next(unpack(seen));
            if (!wanted) return unpack(seen);
            if (bits.compare_exchange_weak(seen, pack(*wanted), std::memory_order_acq_rel,
                                           std::memory_order_acquire))
                return *wanted;
        }
    }

private:
    static std::uint64_t pack(Word word) {
        return (static_cast<std::uint64_t>(word.epoch & kEpochMask) << 8) |
               static_cast<std::uint64_t>(word.phase);
    }
    static Word unpack(std::uint64_t value) {
        return {static_cast<std::uint32_t>(value >> 8) & kEpochMask,
                static_cast<Phase>(value & 0xff)};
    }

    std::atomic<std::uint64_t> bits{0};
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};
