#pragma once

#include <cstdint>
#include <numeric>
#include <utility>

// PipeWire's pulse server moves a stream's read index a whole step of its graph at a time, so
// the step divides every move: learnt as their greatest common divisor, afresh over each
// kMoves moves, as the graph's step changes with the clients it serves. Bytes throughout.
class GraphStep {
public:
    static constexpr int kMoves = 8;

    // The server's read index, as each timing reports it.
    void see(std::int64_t readIndex) {
        const std::int64_t moved = readIndex - last;
        if (last >= 0 && moved > 0) {
            learning = std::gcd(learning, moved);
            if (++moves >= kMoves) {
                learnt = std::exchange(learning, 0);
                moves = 0;
            }
        }
        last = readIndex;
    }
    // 0 until learnt.
    std::int64_t bytes() const { return learnt; }
    void forget() { *this = GraphStep(); }

private:
    std::int64_t last = -1;
    std::int64_t learnt = 0;
    std::int64_t learning = 0;
    int moves = 0;
};
