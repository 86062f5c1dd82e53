#include "load/walk.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "base/unique_fd.hpp"

namespace korvel {


std::string walk_problem::message() const {
    return path + ": " + (error != 0 ? strerror(error) : "moved during the walk");
}

namespace {

// Bytes asked of one getdents64 call: a few thousand entries, so a directory
// costs few system calls, and one buffer serves the whole walk.
constexpr size_t DIRENT_BUFFER_BYTES = 64 * 1024;

// Directory descriptors held at once besides the root's. The walk keeps the
// descriptor of each directory on its way down, to open the next child
// relative to it; deeper than this, the oldest ones are closed and reopened
// through ".." on the way back.
constexpr size_t MAX_OPEN_DIRECTORIES = 32;

constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

bool is_version_control_folder(const char* name, size_t length) {
    switch (length) {
    case 3:
        return memcmp(name, "CVS", 3) == 0 || memcmp(name, ".hg", 3) == 0;
    case 4:
        return memcmp(name, ".git", 4) == 0 || memcmp(name, ".svn", 4) == 0 ||
               memcmp(name, ".bzr", 4) == 0;
    case 6:
        return memcmp(name, "_darcs", 6) == 0;
    default:
        return false;
    }
}

// The kernel's views of processes and devices: huge, endless or unreadable
// in parts, and never what a user means to pick from.
constexpr long PROC_MAGIC = 0x9fa0;
constexpr long SYSFS_MAGIC = 0x62656572;

bool is_kernel_folder(int fd, const char* name) {
    if (strcmp(name, "proc") != 0 && strcmp(name, "sys") != 0) return false;
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 &&
           (static_cast<long>(fs.f_type) == PROC_MAGIC || static_cast<long>(fs.f_type) == SYSFS_MAGIC);
}

// "." and "..", which every directory lists.
bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The walk goes depth first with an explicit stack, so depth costs memory but
// no stack frames. Each directory is read whole as soon as it is opened: its
// entries go to the list and its subdirectories onto a stack of names still
// to enter, as offsets into the list, where each name already sits.
class walker {
  public:
    walker(const walk_options& options, std::string prefix, raw_array<char>* list,
           walk_report* report)
        : options_(options), prefix_(std::move(prefix)), list_(list), report_(report),
          list_start_(list->size),
          progress_interval_(std::max<uint64_t>(options.progress_interval, 1)),
          next_progress_(progress_interval_),
          buffer_(new uint64_t[DIRENT_BUFFER_BYTES / sizeof(uint64_t)]) {}

    void run(unique_fd root) {
        struct stat st;
        if (options_.one_file_system && fstat(root.get(), &st) == 0) root_device_ = st.st_dev;
        frames_.push_back({std::move(root), 0, 0, 0, 0});
        if (!read_directory(frames_.back())) return;
        while (!frames_.empty()) {
            if (stopped()) return;
            frame& top = frames_.back();
            if (pending_.size() == top.pending_begin) {
                leave_directory();
                continue;
            }
            const pending_directory next = pending_.back();
            pending_.pop_back();
            if (!enter_directory(next)) return;
        }
    }

  private:
    // A directory on the way down from the root.
    struct frame {
        unique_fd fd;         // closed while the walk is too deep below it
        size_t path_length;   // of its path in path_
        size_t pending_begin; // its subdirectories are pending_[pending_begin..]
        dev_t device;         // identity, taken when the descriptor is closed
        ino_t inode;
    };
    struct pending_directory {
        size_t name_offset; // in the list
        size_t name_length;
    };

    bool stopped() {
        if (options_.stop == nullptr || *options_.stop == 0) return false;
        report_->cancelled = true;
        return true;
    }

    void add_problem(int error) {
        std::string path = prefix_ + path_;
        if (path.empty()) path = ".";
        else if (path_.empty() && path.size() > 1) path.pop_back(); // the root, without its '/'
        report_->problems.push_back({std::move(path), error});
    }

    // Opens the subdirectory on top of the stack, below the directory on top
    // of frames_, and reads it. False when the walk was stopped.
    bool enter_directory(const pending_directory& next) {
        frame& parent = frames_.back();
        path_.resize(parent.path_length);
        if (!path_.empty()) path_ += '/';
        const size_t name_start = path_.size();
        path_.append(list_->data + next.name_offset, next.name_length);

        unique_fd fd(openat(parent.fd.get(), path_.c_str() + name_start, DIRECTORY_FLAGS));
        if (fd.get() < 0) {
            // Gone or replaced since it was listed: the list already shows it
            // as it was, and there is nothing below it to report.
            if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) add_problem(errno);
            return true;
        }
        if (is_kernel_folder(fd.get(), path_.c_str() + name_start)) return true;
        if (root_device_) {
            struct stat st;
            if (fstat(fd.get(), &st) == 0 && st.st_dev != *root_device_) return true;
        }
        frames_.push_back({std::move(fd), path_.size(), pending_.size(), 0, 0});
        if (frames_.size() > MAX_OPEN_DIRECTORIES + 1) {
            frame& oldest = frames_[frames_.size() - 1 - MAX_OPEN_DIRECTORIES];
            struct stat st;
            if (oldest.fd.get() >= 0 && fstat(oldest.fd.get(), &st) == 0) {
                oldest.device = st.st_dev;
                oldest.inode = st.st_ino;
                oldest.fd.reset();
            }
        }
        return read_directory(frames_.back());
    }

    // Pops the directory on top of frames_. When its parent's descriptor was
    // closed, reopens it through "..", which is the parent unless the tree
    // moved while it was walked; then the parent's remaining subdirectories
    // are dropped with a problem, as they may not be where they were.
    void leave_directory() {
        unique_fd child = std::move(frames_.back().fd);
        frames_.pop_back();
        if (frames_.empty()) return;
        frame& parent = frames_.back();
        path_.resize(parent.path_length);
        if (parent.fd.get() >= 0) return;

        unique_fd fd(openat(child.get(), "..", DIRECTORY_FLAGS));
        struct stat st;
        if (fd.get() >= 0 && fstat(fd.get(), &st) == 0 && st.st_dev == parent.device &&
            st.st_ino == parent.inode) {
            parent.fd = std::move(fd);
            return;
        }
        add_problem(0);
        pending_.resize(parent.pending_begin);
    }

    // Lists the entries of the directory, whose path is in path_.
    bool read_directory(const frame& dir) {
        char* buffer = reinterpret_cast<char*>(buffer_.get());
        for (;;) {
            if (stopped()) return false;
            const ssize_t got = getdents64(dir.fd.get(), buffer, DIRENT_BUFFER_BYTES);
            if (got == 0) return true;
            if (got < 0) {
                if (errno == EINTR) continue;
                add_problem(errno);
                return true;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                at += entry->d_reclen;
                if (is_dot_or_dot_dot(entry->d_name)) continue;
                if (stopped()) return false;
                add_entry(dir.fd.get(), entry->d_name, entry->d_type);
            }
        }
    }

    void add_entry(int dir_fd, const char* name, unsigned char type) {
        const size_t length = strlen(name);
        if (type == DT_UNKNOWN) {
            // Some file systems leave the type out; only then is a stat paid.
            struct stat st;
            if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
                type = DT_DIR;
        }
        const bool directory = type == DT_DIR;
        if (directory && is_version_control_folder(name, length)) return;

        const size_t prefix = prefix_.size() + (path_.empty() ? 0 : path_.size() + 1);
        list_->grow_for(prefix + length + 1);
        char* out = list_->data + list_->size;
        memcpy(out, prefix_.data(), prefix_.size());
        if (!path_.empty()) {
            memcpy(out + prefix_.size(), path_.data(), path_.size());
            out[prefix - 1] = '/';
        }
        memcpy(out + prefix, name, length);
        out[prefix + length] = options_.terminator;
        if (directory) pending_.push_back({list_->size + prefix, length});
        list_->size += prefix + length + 1;

        if (++report_->paths == next_progress_) {
            next_progress_ += progress_interval_;
            if (options_.on_progress)
                options_.on_progress({report_->paths, list_->size - list_start_});
        }
    }

    const walk_options& options_;
    // What every path starts with: the root and a '/', or nothing.
    const std::string prefix_;
    std::optional<dev_t> root_device_; // with one_file_system
    raw_array<char>* list_;
    walk_report* report_;
    const size_t list_start_;
    const uint64_t progress_interval_;
    uint64_t next_progress_;
    // uint64_t storage keeps the dirent64 records aligned.
    std::unique_ptr<uint64_t[]> buffer_;
    std::string path_; // of the directory being read, without a trailing '/'
    std::vector<frame> frames_;
    std::vector<pending_directory> pending_;
};

} // namespace

outcome walk_tree(const char* root, const walk_options& options, raw_array<char>* list,
                  walk_report* report) {
    *report = walk_report();
    // The root may itself be a symbolic link: it is what the caller named.
    unique_fd fd(open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return outcome::failuref("%s: %s", root, strerror(errno));
    std::string prefix;
    if (options.prefix_root) {
        prefix = root;
        while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
        if (prefix == ".") prefix.clear();
        else if (prefix != "/") prefix += '/';
    }
    walker(options, std::move(prefix), list, report).run(std::move(fd));
    return outcome();
}

} // namespace korvel
