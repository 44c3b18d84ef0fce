#include "app/RecordingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace kestrel {

std::string PaddedTickLine(std::uint64_t ticks) {
    std::string line = ticks == 0 ? std::string() : "tick " + std::to_string(ticks);
    line.resize(TICK_LINE_WIDTH - 1, ' ');
    return line + '\n';
}

Result<std::unique_ptr<RecordingFile>> RecordingFile::Create(const std::string& path) {
    // Not blocking: a pipe with no reader is refused, not waited for.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return Failure{std::strerror(errno)};
    // The last line is rewritten in place, which a pipe or a terminal cannot do.
    if (::lseek(fd, 0, SEEK_CUR) < 0) {
        Failure refused{"not a file that can be rewritten in place (" + std::string(std::strerror(errno)) + ")"};
        ::close(fd);
        return refused;
    }
    return std::unique_ptr<RecordingFile>(new RecordingFile(path, fd));
}

RecordingFile::~RecordingFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool RecordingFile::Update(std::string_view written, std::uint64_t pendingTicks) {
    return Write(written, PaddedTickLine(pendingTicks));
}

bool RecordingFile::Finish(std::string_view written, std::uint64_t pendingTicks) {
    if (fd_ < 0) return false;
    const std::string last = pendingTicks == 0 ? std::string()
                                               : WriteStep({.kind = RecordedStep::Kind::Ticks, .number = pendingTicks});
    const bool ok = Write(written, last);
    if (::close(std::exchange(fd_, -1)) != 0 && ok) return Fail();
    return ok;
}

void RecordingFile::StartOver(std::string header) {
    header_ = std::move(header);
    startOver_ = true;
}

// The new lines and the last line go in one write from where the whole
// lines end, so the file never holds a line cut short by a kill between
// two writes; a shorter last line than before is cut off the end. A
// recorder that started anew (a shorter text) is written from the top.
bool RecordingFile::Write(std::string_view written, std::string_view last) {
    if (fd_ < 0 || !error_.empty()) return false;
    const bool anew = startOver_ || written.size() < linesOnDisk_;
    if (anew) linesOnDisk_ = 0;
    const std::uint64_t at = anew ? 0 : header_.size() + linesOnDisk_;
    std::string bytes = anew ? header_ : std::string();
    bytes += written.substr(linesOnDisk_);
    bytes += last;
    if (!WriteAt(at, bytes)) return Fail();
    startOver_ = false;
    linesOnDisk_ = written.size();
    // The file only grows, but for the padding Finish drops, or a file
    // written anew.
    if ((anew || last.size() != TICK_LINE_WIDTH) && ::ftruncate(fd_, off_t(at + bytes.size())) != 0) return Fail();
    return true;
}

bool RecordingFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        bytes.remove_prefix(std::size_t(n));
        offset += std::uint64_t(n);
    }
    return true;
}

bool RecordingFile::Fail() {
    if (error_.empty()) error_ = std::strerror(errno);
    return false;
}

}  // namespace kestrel
