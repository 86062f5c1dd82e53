#include "app/preview_source.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>

#include "base/digit_groups.hpp"

namespace korvel {

namespace {

// A NUL byte this early says the file is not text.
constexpr size_t BINARY_PROBE = 8192;

styled_line line_of(std::string text, uintattr_t fg = TB_DEFAULT) {
    styled_line line;
    line.bytes = text.size();
    line.runs.push_back({std::move(text), fg, TB_DEFAULT});
    return line;
}

// "12 entries below" and the like: what the tree knows of an entry.
std::string counts_of(const path_tree& tree, entry_index entry) {
    const path_entry& e = tree.at(entry);
    std::string text = "entry " + grouped(entry + 1) + " of " + grouped(tree.size());
    if (e.nchildren != 0) {
        const uint64_t below = e.subtree_end - entry - 1;
        text += ", " + grouped(e.nchildren) + (e.nchildren == 1 ? " child, " : " children, ") +
                grouped(below) + (below == 1 ? " entry below" : " entries below");
    }
    return text;
}

std::vector<styled_line> directory_preview(const path_tree& tree, entry_index entry,
                                           size_t max_lines) {
    std::vector<styled_line> lines;
    lines.push_back(line_of(counts_of(tree, entry), TB_DIM));
    const path_entry& e = tree.at(entry);
    for (entry_index child = entry + 1; child < e.subtree_end && lines.size() < max_lines;
         child = tree.at(child).subtree_end) {
        const path_entry& c = tree.at(child);
        styled_line line;
        std::string name = c.name;
        if (c.nchildren != 0) name += tree.separator();
        line.runs.push_back({name, static_cast<uintattr_t>(c.nchildren != 0 ? TB_BOLD : TB_DEFAULT),
                             TB_DEFAULT});
        if (c.nchildren != 0)
            line.runs.push_back({"  " + grouped(c.subtree_end - child - 1), TB_DIM, TB_DEFAULT});
        for (const styled_run& run : line.runs)
            line.bytes += run.text.size();
        lines.push_back(std::move(line));
    }
    return lines;
}

// What a binary file's first bytes say it is.
const char* kind_of_binary(std::string_view head) {
    struct magic {
        std::string_view bytes;
        const char* kind;
    };
    static constexpr std::array<magic, 10> MAGICS{{
        {"\x7f" "ELF", "ELF executable or library"},
        {"\x89PNG", "PNG image"},
        {"\xff\xd8\xff", "JPEG image"},
        {"GIF8", "GIF image"},
        {"%PDF", "PDF document"},
        {"\x1f\x8b", "gzip data"},
        {"PK\x03\x04", "zip archive"},
        {"\xfd" "7zXZ", "xz data"},
        {"BZh", "bzip2 data"},
        {"SQLite format 3", "SQLite database"},
    }};
    for (const magic& m : MAGICS)
        if (head.starts_with(m.bytes)) return m.kind;
    if (head.size() > 262 && head.substr(257, 5) == "ustar") return "tar archive";
    return "data";
}

const char* kind_of_file(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "not a regular file";
}

// The first bytes of a regular file; false with errno when it is none or
// cannot be read. Opened without waiting, so that a FIFO put in its place
// since the stat cannot hold the open, and checked again once open.
bool read_head(const std::string& path, std::string& head, off_t& size) {
    const unique_fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    size = st.st_size;
    head.resize(PREVIEW_FILE_BYTES);
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = read(fd.get(), head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    head.resize(got);
    return true;
}

} // namespace

std::vector<styled_line> builtin_preview(const path_tree& tree, entry_index entry,
                                         size_t max_lines) {
    if (tree.at(entry).nchildren != 0) return directory_preview(tree, entry, max_lines);
    const std::string path = tree.full_path(entry);
    std::vector<styled_line> lines;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        const int error = errno;
        lines.push_back(line_of(path));
        lines.push_back(line_of(std::string("not on this machine (") + strerror(error) + ")", TB_DIM));
        lines.push_back(line_of(counts_of(tree, entry), TB_DIM));
        return lines;
    }
    if (!S_ISREG(st.st_mode)) {
        lines.push_back(line_of(path));
        lines.push_back(line_of(std::string(kind_of_file(st.st_mode)) + " on this machine", TB_DIM));
        lines.push_back(line_of(counts_of(tree, entry), TB_DIM));
        return lines;
    }
    std::string head;
    off_t size = 0;
    if (!read_head(path, head, size)) {
        lines.push_back(line_of(path));
        lines.push_back(line_of(std::string("cannot be read: ") + strerror(errno), TB_DIM));
        return lines;
    }
    if (std::string_view(head).substr(0, BINARY_PROBE).find('\0') != std::string_view::npos) {
        lines.push_back(line_of("binary file, " + grouped(static_cast<uint64_t>(size)) + " bytes, " +
                                    kind_of_binary(head),
                                TB_DIM));
        return lines;
    }
    if (head.empty()) {
        lines.push_back(line_of("empty file", TB_DIM));
        return lines;
    }
    sgr_filter text(false, max_lines);
    text.feed(head);
    text.finish();
    return text.lines();
}

std::unique_ptr<preview_command> preview_command::start(const std::string& text,
                                                        const std::string& path,
                                                        const std::vector<std::string>& picked,
                                                        int wake_fd, std::string& failure) {
    std::unique_ptr<preview_command> job(new preview_command);
    pipe_pair output;
    const unique_fd null(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (open_pipe(&output) != 0 || open_pipe(&job->stop_) != 0) {
        failure = std::string("Failed to run the preview: ") + strerror(errno);
        return nullptr;
    }
    child_spec spec;
    spec.path = "/bin/sh";
    spec.argv = {"/bin/sh", "-c", text, "sh"};
    spec.argv.insert(spec.argv.end(), picked.begin(), picked.end());
    spec.environment = {{"f", path}};
    // Never the terminal: a preview that reads it would fight the viewer
    // for the keys.
    spec.input = null.get() >= 0 ? child_stream::descriptor(null.get()) : child_stream::closed();
    spec.output = child_stream::descriptor(output.write_end.get());
    spec.errors = child_stream::descriptor(output.write_end.get());
    spec.own_group = true;
    switch (job->child_.start(spec)) {
    case start_failure::NONE: break;
    case start_failure::EXEC:
        failure = std::string("Failed to run the preview: ") + strerror(errno);
        return nullptr;
    case start_failure::PIPE:
    case start_failure::FORK:
        failure = std::string("Failed to run the preview: ") + strerror(errno);
        return nullptr;
    }
    // The child holds the only write end now: its end (and its group's) is
    // the end of the output.
    output.write_end.reset();
    job->output_ = std::move(output.read_end);

    // The reader starts with every signal blocked, so that the handlers
    // run on the main thread only.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        job->reader_ = std::thread([raw = job.get(), wake_fd] { raw->read_output(wake_fd); });
    } catch (const std::system_error& e) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        failure = std::string("Failed to run the preview: ") + e.what();
        return nullptr; // the destructor kills and waits for the command
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return job;
}

void preview_command::read_output(int wake_fd) {
    std::array<char, 65536> buffer;
    auto wake = [wake_fd] {
        const char byte = 0;
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t n = write(wake_fd, &byte, 1);
    };
    for (;;) {
        std::array<pollfd, 2> watch{pollfd{output_.get(), POLLIN, 0},
                                    pollfd{stop_.read_end.get(), POLLIN, 0}};
        if (poll(watch.data(), watch.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watch[1].revents != 0) return;
        const ssize_t n = read(output_.get(), buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        {
            const std::lock_guard lock(mutex_);
            if (n <= 0) {
                over_ = true;
            } else {
                const size_t room = PREVIEW_COMMAND_BYTES - total_;
                pending_.append(buffer.data(), std::min(room, static_cast<size_t>(n)));
                total_ += static_cast<size_t>(n);
                if (total_ >= PREVIEW_COMMAND_BYTES) over_ = capped_ = true;
            }
        }
        wake();
        if (n <= 0 || capped()) return;
    }
    const std::lock_guard lock(mutex_);
    over_ = true;
    wake();
}

std::string preview_command::take(bool& over) {
    const std::lock_guard lock(mutex_);
    over = over_;
    return std::exchange(pending_, {});
}

bool preview_command::capped() const {
    const std::lock_guard lock(mutex_);
    return capped_;
}

void preview_command::kill() {
    if (killed_) return;
    killed_ = true;
    child_.signal(SIGKILL);
}

bool preview_command::ended() { return child_.ended(false); }

preview_command::~preview_command() {
    kill();
    if (reader_.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = write(stop_.write_end.get(), &byte, 1);
        reader_.join();
    }
    // Killed, the shell ends at once: waiting for it leaves no zombie.
    child_.ended(true);
}

} // namespace korvel
