#include "load/read_input.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/helper_threads.hpp"

namespace korvel {

namespace {

// A pipe's buffer is grown to this: moving the bytes through it then costs
// half as much as through the usual 64 KiB.
constexpr int PIPE_BUFFER = 1 << 20;
// The most one read asks for; a pipe gives at most its buffer anyway.
constexpr size_t READ_MAX = size_t{4} << 20;

// The last line end in [p, p + n), or null.
const char* last_line_end(const char* p, size_t n, bool nul_only) {
    const char* nul = static_cast<const char*>(memrchr(p, '\0', n));
    if (nul_only) return nul;
    const char* newline = static_cast<const char*>(memrchr(p, '\n', n));
    return nul == nullptr || (newline != nullptr && newline > nul) ? newline : nul;
}

// Waits until fd has input or the tick is due, and calls the tick when due
// or woken. Whether fd is worth reading; false too when the load was
// cancelled (the pacer tells) or waiting failed (errno tells).
bool wait_for_input(int fd, tick_pacer& pacer, bool& failed) {
    failed = false;
    struct pollfd waits[2] = {{fd, POLLIN, 0}, {pacer.wake_fd(), POLLIN, 0}};
    int ready =
        poll(waits, pacer.wake_fd() >= 0 ? 2 : 1, static_cast<int>(pacer.until_due().count()));
    if (ready < 0 && errno != EINTR) {
        failed = true;
        return false;
    }
    const bool woken = ready > 0 && (waits[1].revents & POLLIN) != 0;
    if (!(woken ? pacer.tick_now() : pacer.check())) return false;
    return ready > 0 && waits[0].revents != 0;
}

// How much one splice or read moves at most.
constexpr size_t MOVE_MAX = size_t{1} << 20;

} // namespace

outcome read_into_memory_file(int fd, const line_format& format, tick_pacer& pacer,
                              load_progress& progress, memory_file_input& out, bool& available) {
    available = false;
    out.file.reset(memfd_create("korvel-input", MFD_CLOEXEC));
    if (out.file.get() < 0) return {};
    available = true;
    const input_file file{out.file.get(), 0, 0};

    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) fcntl(fd, F_SETPIPE_SZ, PIPE_BUFFER);

    // The helper counts the lines of what has come in so far; the reader
    // moves the end forward. The helper sleeps until it does, however long
    // the producer stalls.
    struct fill_mark {
        std::atomic<size_t> filled{0};
        std::atomic<bool> finished{false};
        // Bumped on every change of the two above, for the helper to wait on.
        std::atomic<uint32_t> changes{0};

        void publish(size_t size) {
            filled.store(size, std::memory_order_release);
            wake();
        }
        void finish() {
            finished.store(true, std::memory_order_release);
            wake();
        }
        void wake() {
            changes.fetch_add(1, std::memory_order_release);
            changes.notify_one();
        }
    } mark;
    const auto count = [&] {
        std::unique_ptr<char[]> buffer(new char[MOVE_MAX]);
        size_t counted = 0;
        char end_byte = '\n';
        for (;;) {
            const uint32_t seen = mark.changes.load(std::memory_order_acquire);
            const bool last = mark.finished.load(std::memory_order_acquire);
            const size_t end = mark.filled.load(std::memory_order_acquire);
            if (end > counted) {
                // Read back rather than mapped: see memory_file_input.
                const size_t n = std::min(MOVE_MAX, end - counted);
                if (!read_file({file.fd, 0, end}, counted, n, buffer.get())) break;
                progress.lines.fetch_add(count_line_ends(buffer.get(), n, format.nul_only),
                                         std::memory_order_relaxed);
                end_byte = buffer[n - 1];
                counted += n;
            } else if (last) {
                break;
            } else {
                mark.changes.wait(seen, std::memory_order_acquire);
            }
        }
        // Text after the last line end is one more line.
        if (counted > 0 && end_byte != '\0' && (format.nul_only || end_byte != '\n'))
            progress.lines.fetch_add(1, std::memory_order_relaxed);
    };
    helper_threads counter(1, [&count](unsigned) { count(); }, pacer.options().start_thread);
    // Without a thread to count them, the lines are counted once all is in.
    struct finisher {
        fill_mark& mark;
        const helper_threads& counter;
        const decltype(count)& count_all;
        ~finisher() {
            mark.finish();
            if (counter.started() == 0) {
                try {
                    count_all();
                } catch (...) {
                    // Only the count on the loading line is short.
                }
            }
        }
    } finish_counting{mark, counter, count};

    // Where splice cannot take the input (it is not a pipe), it is read
    // through a buffer and written on.
    bool splicing = true;
    std::unique_ptr<char[]> buffer;
    size_t size = 0;
    for (;;) {
        bool failed;
        if (!wait_for_input(fd, pacer, failed)) {
            if (failed) return outcome::failuref("failed to read input: %s", strerror(errno));
            if (pacer.cancelled()) return {};
            continue;
        }
        const size_t want = MOVE_MAX;
        ssize_t n;
        if (splicing) {
            loff_t at = static_cast<loff_t>(size);
            n = splice(fd, nullptr, out.file.get(), &at, want, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n < 0 && (errno == EINVAL || errno == ESPIPE)) {
                splicing = false;
                buffer.reset(new char[MOVE_MAX]);
                continue;
            }
        } else {
            n = read(fd, buffer.get(), want);
            if (n > 0 && pwrite(out.file.get(), buffer.get(), static_cast<size_t>(n),
                                static_cast<off_t>(size)) != n)
                return outcome::failuref("failed to read input: %s", strerror(errno));
        }
        if (n < 0) {
            // Interrupted, or nothing yet on a non-blocking descriptor (or,
            // for splice, a full memory file would say so): wait again.
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return outcome::failuref("failed to read input: %s", strerror(errno));
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
        progress.bytes.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
        mark.publish(size);
    }
    // Told before it is joined, or it would wait for more.
    mark.finish();
    counter.join();
    out.size = size;
    return {};
}

size_t count_line_ends(const char* p, size_t n, bool nul_only) {
    // Sixteen bytes at a time in vector registers; a byte counter can take
    // 255 rounds before it is summed.
    typedef unsigned char bytes16 __attribute__((vector_size(16)));
    size_t count = 0;
    size_t i = 0;
    const bytes16 newline = {'\n', '\n', '\n', '\n', '\n', '\n', '\n', '\n',
                             '\n', '\n', '\n', '\n', '\n', '\n', '\n', '\n'};
    const bytes16 zero = {};
    while (n - i >= 16) {
        bytes16 counters = {};
        size_t rounds = std::min<size_t>((n - i) / 16, 255);
        for (size_t r = 0; r < rounds; r++, i += 16) {
            bytes16 v;
            memcpy(&v, p + i, 16);
            bytes16 ends = v == zero;
            if (!nul_only) ends |= v == newline;
            counters -= ends; // each match is all ones: minus one
        }
        for (int k = 0; k < 16; k++)
            count += counters[k];
    }
    for (; i < n; i++)
        count += p[i] == '\0' || (!nul_only && p[i] == '\n');
    return count;
}

outcome read_input(int fd, const line_format& format, size_t block_size, tick_pacer& pacer,
                   load_progress& progress, read_blocks& out) {
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) fcntl(fd, F_SETPIPE_SZ, PIPE_BUFFER);

    memory_map block = memory_map::anonymous(block_size);
    size_t filled = 0;
    for (;;) {
        if (filled == block.size()) {
            // A full block keeps its whole lines; the line it ends inside
            // moves to the next one, which is larger when that line fills
            // the whole block.
            const char* end = last_line_end(block.data(), filled, format.nul_only);
            size_t kept = end != nullptr ? static_cast<size_t>(end - block.data()) + 1 : 0;
            size_t rest = filled - kept;
            memory_map next = memory_map::anonymous(std::max(block_size, 2 * rest));
            memcpy(next.data(), block.data() + kept, rest);
            if (kept > 0) {
                out.parts.push_back({block.data(), kept});
                out.blocks.push_back(std::move(block));
            }
            block = std::move(next);
            filled = rest;
        }

        struct pollfd waits[2] = {{fd, POLLIN, 0}, {pacer.wake_fd(), POLLIN, 0}};
        int ready =
            poll(waits, pacer.wake_fd() >= 0 ? 2 : 1, static_cast<int>(pacer.until_due().count()));
        if (ready < 0 && errno != EINTR)
            return outcome::failuref("failed to read input: %s", strerror(errno));
        const bool woken = ready > 0 && (waits[1].revents & POLLIN) != 0;
        if (!(woken ? pacer.tick_now() : pacer.check())) return {};
        if (ready <= 0 || waits[0].revents == 0) continue;

        ssize_t n = read(fd, block.data() + filled, std::min(block.size() - filled, READ_MAX));
        if (n < 0) {
            // Interrupted, or a non-blocking descriptor with nothing yet:
            // wait again.
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return outcome::failuref("failed to read input: %s", strerror(errno));
        }
        if (n == 0) break;
        const auto got = static_cast<size_t>(n);
        progress.bytes.fetch_add(got, std::memory_order_relaxed);
        progress.lines.fetch_add(count_line_ends(block.data() + filled, got, format.nul_only),
                                 std::memory_order_relaxed);
        filled += got;
    }
    if (filled > 0) {
        // Text after the last line end is one more line.
        const char last = block.data()[filled - 1];
        if (last != '\0' && (format.nul_only || last != '\n'))
            progress.lines.fetch_add(1, std::memory_order_relaxed);
        out.parts.push_back({block.data(), filled});
        out.blocks.push_back(std::move(block));
    }
    return {};
}

} // namespace korvel
