// What an operation that can fail hands back: success, or the one message
// that says why not. The caller decides where the message goes (the status
// row while the viewer runs, standard error otherwise), so the modules that
// fail know nothing of either.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace korvel {

class [[nodiscard]] outcome {
  public:
    // Messages are cut to this many bytes, as the status row and standard
    // error have always shown them.
    static constexpr size_t MESSAGE_MAX = 255;

    outcome() = default; // success

    static outcome failure(std::string message) {
        if (message.size() > MESSAGE_MAX) message.resize(MESSAGE_MAX);
        return outcome(std::move(message));
    }
    static outcome failuref(const char* format, ...) __attribute__((format(printf, 1, 2)));

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return message_; }

  private:
    explicit outcome(std::string message) : failed_(true), message_(std::move(message)) {}

    bool failed_ = false;
    std::string message_;
};

} // namespace korvel
