#include "load/load.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/helper_threads.hpp"
#include "base/memory_map.hpp"
#include "load/buckets.hpp"
#include "load/read_input.hpp"
#include "load/sort_lines.hpp"
#include "load/tick_pacer.hpp"

namespace korvel {

namespace {

// The tree takes a sorted bucket in slices of this many lines, with a look
// at the tick between two.
constexpr uint64_t BUILD_SLICE = uint64_t{1} << 14;
// Memory used up goes back to the system this much at a time: every release
// costs the other threads a flush of their address translations.
constexpr ptrdiff_t RELEASE_STEP = ptrdiff_t{4} << 20;
constexpr size_t MAX_BUCKETS = size_t{1} << 16;
constexpr size_t PIECE_BYTES = size_t{4} << 20;
constexpr unsigned MAX_THREADS = 64;
// How long the main thread waits for a helper before it looks at the tick.
constexpr std::chrono::milliseconds HELPER_WAIT{2};
// How many sorted buckets a helper keeps ready for the builder before it
// turns to mapping the builder's memory, and how long it naps when there is
// nothing to do yet.
constexpr size_t SORT_AHEAD = 4;
constexpr std::chrono::microseconds HELPER_NAP{100};

unsigned cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// Whoever owns the bytes of the input: the memory file a pipe went into (or
// the blocks it was read into), or a buffer handed over.
struct input_owner {
    memory_file_input memory_file;
    read_blocks blocks;
    std::string buffer;

    void clear() {
        memory_file = memory_file_input();
        blocks = read_blocks();
        buffer = std::string();
    }
};

// Cuts the input into `pieces` stretches of whole lines of about equal size.
std::vector<std::vector<input_part>> cut_into(const std::vector<input_part>& input, size_t pieces,
                                              bool nul_only) {
    size_t total = 0;
    for (const input_part& part : input)
        total += part.size;
    // The cuts, as offsets in the whole input, each right after a line end.
    std::vector<size_t> cuts{0};
    for (size_t k = 1; k < pieces; k++) {
        size_t at = std::max(total / pieces * k, cuts.back());
        size_t base = 0, p = 0;
        while (p < input.size() && at >= base + input[p].size)
            base += input[p++].size;
        if (p < input.size()) {
            const char* begin = input[p].data;
            const char* end = begin + input[p].size;
            const char* stop = line_end(begin + (at - base), end, nul_only);
            at = base + (stop == end ? input[p].size : static_cast<size_t>(stop - begin) + 1);
        }
        cuts.push_back(at);
    }
    cuts.push_back(total);

    std::vector<std::vector<input_part>> stretches(pieces);
    size_t base = 0;
    for (const input_part& part : input) {
        for (size_t t = 0; t < pieces; t++) {
            size_t from = std::max(cuts[t], base), to = std::min(cuts[t + 1], base + part.size);
            if (from < to) stretches[t].push_back({part.data + (from - base), to - from});
        }
        base += part.size;
    }
    return stretches;
}

// Cuts a file into `pieces` stretches of whole lines of about equal size, as
// offsets and sizes; false with errno set when reading failed.
bool cut_file(const input_file& file, size_t pieces, bool nul_only,
              std::vector<std::pair<size_t, size_t>>& out) {
    constexpr size_t LOOK = size_t{1} << 16;
    std::unique_ptr<char[]> window(new char[LOOK]);
    size_t previous = 0;
    for (size_t k = 1; k <= pieces; k++) {
        size_t cut = file.size;
        for (size_t at = std::max(file.size / pieces * k, previous);
             k < pieces && at < file.size;) {
            size_t n = std::min(LOOK, file.size - at);
            if (!read_file(file, at, n, window.get())) return false;
            const char* stop = line_end(window.get(), window.get() + n, nul_only);
            if (stop < window.get() + n) {
                cut = at + static_cast<size_t>(stop - window.get()) + 1;
                break;
            }
            at += n;
        }
        if (cut > previous) out.emplace_back(previous, cut - previous);
        previous = cut;
    }
    return true;
}

// Tells the helpers to stop when it goes, unless disarmed.
struct helper_stopper {
    std::atomic<bool>& stop;
    bool armed = true;
    ~helper_stopper() {
        if (armed) stop.store(true, std::memory_order_relaxed);
    }
};

// One load, from the input in memory to the tree: the lines are split into
// buckets and copied by every thread, each taking a stretch of the input;
// then every thread sorts buckets, lowest first, and the main thread builds
// the tree from each bucket once it and all before it are sorted.
class pipeline {
  public:
    // The input is in memory (input), or a file read piece by piece (file,
    // with memory_file when its pages are to be freed as they are used).
    pipeline(const load_options& options, load_progress& progress, tick_pacer& pacer,
             input_owner& owner, std::vector<input_part> input, input_file file, bool memory_file,
             bool reader_counted)
        : options_(options), progress_(progress), pacer_(pacer), owner_(owner),
          input_(std::move(input)), file_(file), memory_file_(memory_file),
          reader_counted_(reader_counted), format_{options.separator, options.nul_only} {}

    load_result run(path_tree& out);

  private:
    // Runs share(0) on the main thread and share(1) .. on helpers, and waits
    // for them all; false when the load was cancelled meanwhile.
    bool in_shares(unsigned threads, const std::function<bool(unsigned)>& share);
    bool write_stretch(unsigned thread, const std::vector<input_part>& stretch);
    bool write_file_piece(unsigned thread, size_t at, size_t size);
    // A writer's progress since `counted`, told to the progress (unless the
    // reader counts); whether to go on.
    bool count_written(unsigned thread, const char*& counted, uint64_t& counted_lines,
                       const char* done, uint64_t lines) {
        if (!reader_counted_) {
            progress_.bytes.fetch_add(static_cast<uint64_t>(done - counted),
                                      std::memory_order_relaxed);
            progress_.lines.fetch_add(lines - counted_lines, std::memory_order_relaxed);
        }
        counted = done;
        counted_lines = lines;
        if (thread == 0) return go_on();
        return !stop_.load(std::memory_order_relaxed);
    }
    // Remembers the first read error (errno) and stops the others.
    bool read_failed() {
        int none = 0;
        read_error_.compare_exchange_strong(none, errno != 0 ? errno : EIO);
        stop_.store(true, std::memory_order_relaxed);
        return false;
    }
    bool sort_bucket(size_t bucket, const std::function<bool()>& keep_going);
    // Takes the next bucket to sort, if one is left.
    bool claim_bucket(size_t& bucket) {
        bucket = next_to_sort_.load(std::memory_order_relaxed);
        while (
            bucket < sorted_lines_.size() &&
            !next_to_sort_.compare_exchange_weak(bucket, bucket + 1, std::memory_order_relaxed)) {
        }
        return bucket < sorted_lines_.size();
    }
    bool build_bucket(size_t bucket, path_tree::builder& builder);
    void sort_and_build(unsigned threads, path_tree& out);
    load_result read_failure() const {
        return {outcome::failuref("failed to read input: %s", strerror(read_error_.load())), false};
    }
    // Stops the helpers and tells the main thread whether it still may go on.
    bool go_on() {
        if (pacer_.check()) return true;
        stop_.store(true, std::memory_order_relaxed);
        return false;
    }

    const load_options& options_;
    load_progress& progress_;
    tick_pacer& pacer_;
    input_owner& owner_;
    std::vector<input_part> input_;
    input_file file_;
    bool memory_file_;
    bool reader_counted_;
    std::atomic<int> read_error_{0};
    size_t total_bytes_ = 0;
    // Each thread's buffer for the pieces of a file it reads.
    std::vector<memory_map> piece_buffers_;
    line_format format_;
    std::atomic<bool> stop_{false};
    outcome failure_;

    splitter_set splitters_;
    std::unique_ptr<bucket_arena> arena_;
    std::vector<std::unique_ptr<bucket_writer>> writers_;

    // The sorted buckets, each made of the parts every writer copied.
    std::vector<raw_array<char*>> sorted_lines_;
    std::unique_ptr<std::atomic<bool>[]> sorted_;
    std::atomic<size_t> next_to_sort_{0};
    std::mutex sorted_mutex_;
    std::condition_variable sorted_signal_;
    char* released_homes_ = nullptr;
};

bool pipeline::write_stretch(unsigned thread, const std::vector<input_part>& stretch) {
    bucket_writer& writer = *writers_[thread];
    uint64_t counted_lines = writer.lines();
    for (const input_part& part : stretch) {
        const char* released = part.data;
        const char* counted = part.data;
        auto pace = [&](const char* done, uint64_t lines) {
            // The input behind is used up: its memory goes, so that the copy
            // does not double what the load holds.
            if (done - released >= RELEASE_STEP || done == part.data + part.size) {
                release_pages(released, done);
                released =
                    std::max(released, done - reinterpret_cast<uintptr_t>(done) % page_size());
            }
            return count_written(thread, counted, counted_lines, done, lines);
        };
        if (!writer.write(part.data, part.data + part.size, pace)) return false;
    }
    return true;
}

bool pipeline::write_file_piece(unsigned thread, size_t at, size_t size) {
    memory_map& buffer = piece_buffers_[thread];
    if (buffer.size() < size) buffer = memory_map::anonymous(std::max(size, 2 * PIECE_BYTES));
    if (!read_file(file_, at, size, buffer.data())) return read_failed();
    bucket_writer& writer = *writers_[thread];
    const char* counted = buffer.data();
    uint64_t counted_lines = writer.lines();
    auto pace = [&](const char* done, uint64_t lines) {
        return count_written(thread, counted, counted_lines, done, lines);
    };
    if (!writer.write(buffer.data(), buffer.data() + size, pace)) return false;
    // A memory file's pages of this piece are used up; those shared with the
    // next pieces are not.
    if (memory_file_) {
        const size_t page = page_size();
        size_t first = (file_.offset + at + page - 1) / page * page;
        size_t last = (file_.offset + at + size) / page * page;
        if (last > first)
            fallocate(file_.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                      static_cast<off_t>(first), static_cast<off_t>(last - first));
    }
    return true;
}

bool pipeline::in_shares(unsigned threads, const std::function<bool(unsigned)>& share) {
    helper_threads helpers(threads - 1, [&](unsigned helper) { share(helper); },
                           options_.start_thread);
    // Should the main thread's share throw, the helpers stop before they
    // are joined.
    helper_stopper stop_helpers{stop_};
    // The shares of helpers that could not start are the main thread's.
    bool went_on = share(0);
    for (unsigned t = helpers.started() + 1; went_on && t < threads; t++)
        went_on = share(t);
    if (went_on) {
        while (!helpers.wait_for(HELPER_WAIT))
            if (!go_on()) break;
    }
    helpers.join();
    stop_helpers.armed = false;
    return !pacer_.cancelled();
}

bool pipeline::sort_bucket(size_t bucket, const std::function<bool()>& keep_going) {
    // The parts of the bucket, one after the other in the first one's array.
    raw_array<char*>& lines = sorted_lines_[bucket];
    for (auto& writer : writers_) {
        raw_array<char*>& part = writer->parts()[bucket].lines;
        if (lines.data == nullptr) {
            lines.data = part.data;
            lines.size = part.size;
            lines.capacity = part.capacity;
            part.release();
            continue;
        }
        lines.reserve(lines.size + part.size);
        if (part.size > 0) memcpy(lines.data + lines.size, part.data, part.size * sizeof(char*));
        lines.size += part.size;
        part.resize_storage(0);
        part.size = 0;
    }
    if (!sort_lines(lines.data, lines.size, format_.separator, keep_going)) return false;
    {
        std::lock_guard<std::mutex> lock(sorted_mutex_);
        sorted_[bucket].store(true, std::memory_order_release);
    }
    sorted_signal_.notify_all();
    return true;
}

bool pipeline::build_bucket(size_t bucket, path_tree::builder& builder) {
    raw_array<char*>& lines = sorted_lines_[bucket];
    for (uint64_t k = 0; k < lines.size; k += BUILD_SLICE) {
        const outcome added = builder.add(lines.data + k, std::min(BUILD_SLICE, lines.size - k));
        if (!added) {
            failure_ = added;
            stop_.store(true, std::memory_order_relaxed);
            return false;
        }
        if (!go_on()) return false;
    }
    // The builder keeps nothing of these texts: their memory goes, the
    // homes a few megabytes at a time.
    for (auto& writer : writers_)
        for (const auto& [chunk, size] : writer->parts()[bucket].chunks)
            release_pages(chunk, chunk + size);
    char* dead = arena_->homes_end(bucket + 1);
    if (dead - released_homes_ >= RELEASE_STEP || bucket + 1 == sorted_lines_.size()) {
        release_pages(released_homes_, dead);
        released_homes_ = dead;
    }
    lines.resize_storage(0);
    lines.size = 0;
    return true;
}

void pipeline::sort_and_build(unsigned threads, path_tree& out) {
    const size_t buckets = splitters_.bucket_count();
    uint64_t total_lines = 0;
    for (auto& writer : writers_)
        total_lines += writer->lines();
    // The names take no more than the texts, which take at most twice the
    // input: less than the arena's bound when its homes are far from full.
    path_tree::builder builder(format_.separator, options_.fold_by_default, total_lines,
                               std::min(arena_->used(), 2 * total_bytes_ + 2));
    sorted_lines_ = std::vector<raw_array<char*>>(buckets);
    sorted_.reset(new std::atomic<bool>[buckets]);
    for (size_t b = 0; b < buckets; b++)
        sorted_[b].store(false, std::memory_order_relaxed);

    // A helper sorts while the builder has few sorted buckets ahead of it,
    // and otherwise takes the first touch of the pages the builder will
    // write, until the tree is built.
    std::atomic<size_t> next_to_build{0};
    std::atomic<bool> built{false};
    helper_threads helpers(threads - 1, [&](unsigned) {
        const std::function<bool()> keep_going = [this] {
            return !stop_.load(std::memory_order_relaxed);
        };
        try {
            while (keep_going() && !built.load(std::memory_order_relaxed)) {
                const bool far_ahead = next_to_sort_.load(std::memory_order_relaxed) >=
                                       next_to_build.load(std::memory_order_relaxed) + SORT_AHEAD;
                if (far_ahead && builder.help()) continue;
                size_t bucket;
                if (claim_bucket(bucket)) {
                    if (!sort_bucket(bucket, keep_going)) break;
                } else if (!builder.help()) {
                    std::this_thread::sleep_for(HELPER_NAP);
                }
            }
        } catch (...) {
            // The main thread may be waiting for the bucket this one had.
            stop_.store(true, std::memory_order_relaxed);
            throw;
        }
    }, options_.start_thread);
    helper_stopper stop_helpers{stop_};

    const std::function<bool()> keep_going = [this] { return go_on(); };
    for (size_t next = 0; next < buckets;) {
        if (sorted_[next].load(std::memory_order_acquire)) {
            if (!build_bucket(next, builder)) return;
            next_to_build.store(++next, std::memory_order_relaxed);
            continue;
        }
        size_t bucket;
        if (claim_bucket(bucket)) {
            if (!sort_bucket(bucket, keep_going)) return;
            continue;
        }
        progress_.phase.store(load_phase::BUILDING, std::memory_order_relaxed);
        std::unique_lock<std::mutex> lock(sorted_mutex_);
        sorted_signal_.wait_for(lock, HELPER_WAIT,
                                [&] { return sorted_[next].load(std::memory_order_acquire); });
        lock.unlock();
        if (stop_.load(std::memory_order_relaxed)) {
            helpers.join(); // throws what stopped a helper
            return;
        }
        if (!go_on()) return;
    }
    progress_.phase.store(load_phase::BUILDING, std::memory_order_relaxed);
    built.store(true, std::memory_order_relaxed);
    helpers.join();
    builder.finish(out);
}

load_result pipeline::run(path_tree& out) {
    out = path_tree();
    size_t total = file_.size;
    for (const input_part& part : input_)
        total += part.size;
    if (total == 0) return {};
    const bool from_file = file_.fd >= 0;

    const load_tuning& tuning = options_.tuning;
    unsigned threads = options_.threads != 0 ? options_.threads : cores();
    threads = static_cast<unsigned>(std::clamp<size_t>(
        total / std::max<size_t>(tuning.thread_bytes, 1), 1, std::min(threads, MAX_THREADS)));
    size_t buckets = (total + tuning.bucket_bytes - 1) / std::max<size_t>(tuning.bucket_bytes, 1);
    // Enough buckets that no thread waits long for another at the end.
    if (threads > 1) buckets = std::max<size_t>(buckets, 4 * threads);
    buckets = std::min(buckets, MAX_BUCKETS);

    // Every sample is a fault somewhere in the input: the threads share them.
    const size_t samples_wanted = sample_count(buckets);
    std::vector<std::string> samples(samples_wanted);
    const bool sampled = in_shares(threads, [&](unsigned t) {
        const size_t first = samples_wanted * t / threads,
                     last = samples_wanted * (t + 1) / threads;
        if (!from_file) {
            take_samples(input_, format_, samples_wanted, first, last, samples);
            return true;
        }
        return take_samples(file_, format_, samples_wanted, first, last, samples) || read_failed();
    });
    if (read_error_.load() != 0) return read_failure();
    if (!sampled) return {{}, true};
    // The line length the samples show sizes the arrays of lines.
    size_t sampled_bytes = 0;
    for (const std::string& sample : samples)
        sampled_bytes += sample.size();
    const size_t line_bytes =
        samples.empty() ? 48 : std::max<size_t>(2, sampled_bytes / samples.size());
    splitters_ = choose_splitters(std::move(samples), buckets, format_.separator);
    buckets = splitters_.bucket_count();

    total_bytes_ = total;
    arena_ = std::make_unique<bucket_arena>(total, buckets, threads);
    released_homes_ = arena_->homes_end(0);
    const size_t expected = total / line_bytes / (buckets * threads) * 9 / 8 + 16;
    for (unsigned t = 0; t < threads; t++)
        writers_.push_back(
            std::make_unique<bucket_writer>(splitters_, *arena_, format_, expected, t));

    // The threads take pieces of the input in turn, so that one the machine
    // lends less time to does less of the work.
    const size_t piece_count = std::max<size_t>(threads, total / PIECE_BYTES);
    std::vector<std::vector<input_part>> pieces;
    std::vector<std::pair<size_t, size_t>> file_pieces;
    if (!from_file)
        pieces = cut_into(input_, piece_count, format_.nul_only);
    else if (!cut_file(file_, piece_count, format_.nul_only, file_pieces))
        return read_failed(), read_failure();
    piece_buffers_.resize(threads);
    std::atomic<size_t> next_piece{0};
    const size_t piece_total = from_file ? file_pieces.size() : pieces.size();
    const bool written = in_shares(threads, [&](unsigned t) {
        for (size_t k; (k = next_piece.fetch_add(1, std::memory_order_relaxed)) < piece_total;) {
            const bool went_on =
                from_file ? write_file_piece(t, file_pieces[k].first, file_pieces[k].second)
                          : write_stretch(t, pieces[k]);
            if (!went_on) return false;
        }
        return true;
    });
    if (read_error_.load() != 0) return read_failure();
    if (!written) return {{}, true};
    piece_buffers_.clear();
    owner_.clear();
    input_.clear();

    progress_.phase.store(load_phase::SORTING, std::memory_order_relaxed);
    sort_and_build(threads, out);
    if (!failure_.ok()) return {failure_, false};
    if (pacer_.cancelled()) {
        out = path_tree();
        return {{}, true};
    }
    return {};
}

} // namespace

load_result load_fd(int fd, const load_options& options, load_progress& progress, path_tree& out) {
    out = path_tree();
    tick_pacer pacer(options, progress);
    input_owner owner;
    struct stat info;
    if (fstat(fd, &info) != 0)
        return {outcome::failuref("failed to read input: %s", strerror(errno)), false};
    // A file is read in pieces from where the descriptor stands; one that
    // claims no size (as files under /proc do) is read like a pipe.
    const off_t at = S_ISREG(info.st_mode) ? lseek(fd, 0, SEEK_CUR) : -1;
    if (at >= 0 && at < info.st_size) {
        const input_file file{fd, static_cast<size_t>(at), static_cast<size_t>(info.st_size - at)};
        return pipeline(options, progress, pacer, owner, {}, file, false, false).run(out);
    }
    const line_format format{options.separator, options.nul_only};
    bool memory_file = false;
    outcome read =
        read_into_memory_file(fd, format, pacer, progress, owner.memory_file, memory_file);
    if (!memory_file)
        read = read_input(fd, format, options.tuning.read_block, pacer, progress, owner.blocks);
    if (!read) return {read, false};
    if (pacer.cancelled()) return {{}, true};
    if (memory_file) {
        const input_file file{owner.memory_file.file.get(), 0, owner.memory_file.size};
        return pipeline(options, progress, pacer, owner, {}, file, true, true).run(out);
    }
    return pipeline(options, progress, pacer, owner, owner.blocks.parts, {}, false, true).run(out);
}

load_result load_buffer(std::string&& bytes, const load_options& options, load_progress& progress,
                        path_tree& out) {
    out = path_tree();
    tick_pacer pacer(options, progress);
    input_owner owner;
    owner.buffer = std::move(bytes);
    std::vector<input_part> input{{owner.buffer.data(), owner.buffer.size()}};
    return pipeline(options, progress, pacer, owner, std::move(input), {}, false, false).run(out);
}

} // namespace korvel
