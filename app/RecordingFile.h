#pragma once
// The file a session is recorded into as it goes. New whole lines are
// appended as they come; the ticks run since the last of them are kept as
// one `tick K` line at the end, rewritten in place and padded with spaces to
// a fixed width, so the file grows with events and battles, not with time.
// After every update the file is a recording the replay tool reads; a crash
// or a kill loses only the ticks since the last update. Plain C++, no Qt.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "game/Recording.h"

#include "game/Result.h"

namespace kestrel {

class RecordingFile {
public:
    // Creates FILE, or empties it; or the reason (as the system says it)
    // when it cannot be written.
    static Result<std::unique_ptr<RecordingFile>> Create(const std::string& path);
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    // Brings the file up to date with the recorder: the lines written since
    // the last update, then its pending ticks in the padded last line. The
    // recorder only appends between updates; one that started anew (a
    // shorter text) is written from the top.
    bool Update(const Recorder& recorder) { return Update(recorder.Written(), recorder.PendingTicks()); }
    bool Update(std::string_view written, std::uint64_t pendingTicks);
    // Writes the recording as it stands, without padding, and closes the
    // file; later calls change nothing.
    bool Finish(const Recorder& recorder) { return Finish(recorder.Written(), recorder.PendingTicks()); }
    bool Finish(std::string_view written, std::uint64_t pendingTicks);
    // The session starts again, under `header` (whole comment lines, which
    // the replay tool skips): the next update writes the file from the top,
    // however long the recorder's text is then.
    void StartOver(std::string header);

    const std::string& Path() const { return path_; }
    // Why the last write failed; empty while every write has worked.
    const std::string& Error() const { return error_; }

private:
    RecordingFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    bool Write(std::string_view written, std::string_view last);
    bool WriteAt(std::uint64_t offset, std::string_view bytes);
    bool Fail();

    std::string path_;
    int fd_;
    std::string header_;
    bool startOver_ = false;
    std::uint64_t linesOnDisk_ = 0;  // bytes of the recorder's whole lines; the tick line follows
    std::string error_;
};

// The padded line of pending ticks: `tick K` or, with none, only spaces;
// always TICK_LINE_WIDTH bytes, newline included.
inline constexpr std::size_t TICK_LINE_WIDTH = 26;  // "tick " and 20 digits
std::string PaddedTickLine(std::uint64_t ticks);

}  // namespace kestrel
