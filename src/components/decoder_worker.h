#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class ErrorSink;
class Mp3Decoder;
struct DeckStream;

// The decoder thread of one deck: decodes the current file from the position of the current
// epoch, converts it to the output's rate and fills the stream's ring.
class DecoderWorker {
public:
    struct Command {
        std::uint32_t epoch = 0;
        std::int64_t target = 0;  // source frame to start from
        bool replace = false;     // a new file (or none): decoder, path and trackId apply
        std::unique_ptr<Mp3Decoder> decoder;
        std::string path;
        std::uint32_t trackId = 0;
    };

    // Starts the thread; throws std::system_error when it cannot.
    DecoderWorker(DeckStream& stream, ErrorSink& errors, int outputRate);
    ~DecoderWorker();
    DecoderWorker(const DecoderWorker&) = delete;
    DecoderWorker& operator=(const DecoderWorker&) = delete;

    // UI thread only. A command not yet taken is replaced, keeping its new file if it had one.
    void post(std::unique_ptr<Command> command);
    void wake();

private:
    void run();

    DeckStream& stream;
    ErrorSink& errors;
    const int outputRate;

    // UI -> decoder mailbox; held only to post or take a command.
    std::mutex mailboxMutex;
    std::condition_variable mailboxChanged;
    std::unique_ptr<Command> pending;
    bool quit = false;
    std::thread thread;  // last: starts once everything it uses exists
};
