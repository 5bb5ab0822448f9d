// Where archive bytes go and come from: the memory sink, and the POSIX file
// sink and source behind 8 KiB buffers.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "gedzip.hpp"

namespace lignor {

IoOutcome MemorySink::write(std::string_view bytes) {
    bytes_.append(bytes);
    return {bytes.size(), 0};
}

FileSink::FileSink(int descriptor) : descriptor_(descriptor) {
    buffer_.reserve(buffer_size);
}

FileSink::FileSink(FileSink&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), buffer_(std::move(other.buffer_)) {}

FileSink::~FileSink() {
    // An abandoned archive keeps what was written, like any buffered file.
    if (descriptor_ >= 0) (void)close();
}

IoOutcome FileSink::write(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > buffer_size) {
        if (const int error = flush()) return {0, error};
    }
    if (bytes.size() >= buffer_size) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0) return {0, errno};
        return {static_cast<std::size_t>(written), 0};
    }
    buffer_.append(bytes);
    return {bytes.size(), 0};
}

int FileSink::flush() {
    std::size_t done = 0;
    int error = 0;
    while (done < buffer_.size()) {
        const ssize_t written = ::write(descriptor_, buffer_.data() + done, buffer_.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    buffer_.erase(0, done);
    return error;
}

IoOutcome FileSink::position() {
    if (const int error = flush()) return {0, error};
    const off_t at = ::lseek(descriptor_, 0, SEEK_CUR);
    if (at < 0) return {0, errno};
    return {static_cast<std::size_t>(at), 0};
}

int FileSink::seek(std::uint64_t offset) {
    if (const int error = flush()) return error;
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return EOVERFLOW;
    if (::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
    return 0;
}

int FileSink::truncate(std::uint64_t length) {
    if (const int error = flush()) return error;
    if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return EOVERFLOW;
    if (::ftruncate(descriptor_, static_cast<off_t>(length)) != 0) return errno;
    if (::lseek(descriptor_, static_cast<off_t>(length), SEEK_SET) < 0) return errno;
    return 0;
}

int FileSink::close() {
    if (descriptor_ < 0) return 0;
    int error = flush();
    if (::close(std::exchange(descriptor_, -1)) != 0 && error == 0) error = errno;
    return error;
}

IoOutcome FileSource::read(char* buffer, std::size_t size) {
    if (start_ == end_ && size >= buffer_size) {
        // A large read gains nothing from the buffer.
        const ssize_t got = ::read(descriptor_, buffer, size);
        if (got < 0) return {0, errno};
        return {static_cast<std::size_t>(got), 0};
    }
    if (start_ == end_) {
        const ssize_t got = ::read(descriptor_, buffer_.data(), buffer_.size());
        if (got < 0) return {0, errno};
        start_ = 0;
        end_ = static_cast<std::size_t>(got);
    }
    const std::size_t count = std::min(size, end_ - start_);
    std::memcpy(buffer, buffer_.data() + start_, count);
    start_ += count;
    return {count, 0};
}

}  // namespace lignor
