// What the server keeps of a room on disk: its record (key, size, end) and
// its recording file, which a resumed room takes up at its last whole line.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "game/Recording.h"
#include "server/rooms/RandomId.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {
namespace {

// The file's bytes, a cut last line too.
std::string Bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class RoomFilesTest : public testing::Test {
protected:
    std::filesystem::path File(const std::string& which = "files") {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        return std::filesystem::temp_directory_path() /
               ("kestrel-room-" + std::string(info->name()) + "-" + std::to_string(getpid()) + "." + which);
    }
    void TearDown() override { std::filesystem::remove_all(File()); }
};

// What brings a room back beside its recording: its key and size, and
// whether it ended; a record cut short by a kill is read up to its cut.
TEST_F(RoomFilesTest, ARoomsRecordKeepsItsKeyAndItsEnd) {
    const std::filesystem::path folder = File();
    std::filesystem::create_directory(folder);
    const std::string id = RandomHexId().value();
    const RoomRecord written{.key = RandomHexId().value(), .width = 400, .height = 300};
    ASSERT_TRUE(WriteRoomRecord(folder, id, written));
    EXPECT_FALSE(WriteRoomRecord(folder, id, written));  // never overwritten
    EXPECT_EQ(RoomsInFolder(folder), std::vector<std::string>{id});
    EXPECT_EQ(std::filesystem::status(RoomRecordFile(folder, id)).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    std::ofstream(RoomRecordFile(folder, id), std::ios::app) << "end";
    Result<RoomRecord> read = ReadRoomRecord(folder, id);
    ASSERT_TRUE(read) << read.Why();
    EXPECT_EQ(read->key, written.key);
    EXPECT_EQ(read->width, 400);
    EXPECT_FALSE(read->ended);

    std::filesystem::resize_file(RoomRecordFile(folder, id), std::filesystem::file_size(RoomRecordFile(folder, id)) - 3);
    ASSERT_TRUE(MarkRoomEnded(folder, id));
    read = ReadRoomRecord(folder, id);
    ASSERT_TRUE(read) << read.Why();
    EXPECT_TRUE(read->ended);
    std::ofstream(RoomRecordFile(folder, id), std::ios::app) << "kept forever\n";
    read = ReadRoomRecord(folder, id);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.Why(), "line 5 of its record is not one this server reads");
}

// A recording file appends and reads back; resumed after a kill that cut
// its last line short, it is cut to its whole lines and goes on from there.
TEST_F(RoomFilesTest, ARecordingFileIsTakenUpAtItsLastWholeLine) {
    const std::filesystem::path file = File();
    {
        RoomRecordingSink sink(file, false);
        ASSERT_EQ(sink.Append("version 1\ntick 40\n"), SinkState::Whole);
        EXPECT_EQ(sink.Written(MAX_RECORDING_BYTES), "version 1\ntick 40\n");
        EXPECT_EQ(sink.Written(5), std::nullopt) << "longer than asked";
    }
    const std::uintmax_t whole = std::filesystem::file_size(file);
    std::ofstream(file, std::ios::app) << "move 25";
    EXPECT_EQ(ReadWholeLines(file, MAX_RECORDING_BYTES), "version 1\ntick 40\n");
    RoomRecordingSink resumed(file, true);
    EXPECT_EQ(std::filesystem::file_size(file), whole);
    ASSERT_EQ(resumed.Append("tick 1\n"), SinkState::Whole);
    EXPECT_EQ(resumed.Written(MAX_RECORDING_BYTES), "version 1\ntick 40\ntick 1\n");
    EXPECT_EQ(RoomRecordingSink(File() / "no" / "folder", false).Append("x\n"), SinkState::Lost);
}

// A room made from a start recording writes under its unmade name, which a
// kill meanwhile leaves to be removed; once made, the file takes the room's
// name and goes on there.
TEST_F(RoomFilesTest, AnUnmadeRecordingTakesItsRoomsNameOnceSettled) {
    const std::filesystem::path folder = File();
    std::filesystem::create_directory(folder);
    const std::string id = RandomHexId().value();
    const std::filesystem::path unmade = UnmadeRecordingFile(folder, id), named = RoomRecordingFile(folder, id);
    RoomRecordingSink sink(unmade, named, nullptr);
    ASSERT_EQ(sink.Append("version 2\n"), SinkState::Whole);
    EXPECT_FALSE(std::filesystem::exists(named));
    ASSERT_TRUE(sink.Settle());
    EXPECT_FALSE(std::filesystem::exists(unmade));
    ASSERT_EQ(sink.Append("tick 40\n"), SinkState::Whole);
    EXPECT_EQ(Bytes(named), "version 2\ntick 40\n");
    EXPECT_EQ(sink.Written(1 << 10), "version 2\ntick 40\n") << "read back from its new name";
    EXPECT_TRUE(sink.Settle()) << "settled, it stays where it is";
    EXPECT_TRUE(std::filesystem::exists(named));
}

// A disk that fills for a while: a write it cut short is cut off again, its
// text held back and written first once the disk takes writes again; past
// MAX_HELD_BACK_BYTES held back, the file stops at its last whole write.
TEST_F(RoomFilesTest, AFullDiskLosesAtMostWhatItRefused) {
    bool full = false;
    // Full, the disk takes half a write and then refuses the rest.
    const FileWriter disk = [&full](int fd, std::string_view text) {
        if (!full) return WriteAll(fd, text);
        (void)WriteAll(fd, text.substr(0, text.size() / 2));
        return false;
    };
    const std::filesystem::path file = File();
    RoomRecordingSink sink(file, false, nullptr, disk);
    ASSERT_EQ(sink.Append("version 2\n"), SinkState::Whole);
    full = true;
    EXPECT_EQ(sink.Append("tick 40\n"), SinkState::HeldBack);
    EXPECT_EQ(sink.Append("key 97\ntick 40\n"), SinkState::HeldBack);
    EXPECT_EQ(Bytes(file), "version 2\n") << "a write cut short is cut off";
    full = false;
    EXPECT_EQ(sink.Append("tick 40\n"), SinkState::Whole);
    EXPECT_EQ(Bytes(file), "version 2\ntick 40\nkey 97\ntick 40\ntick 40\n");

    const std::string whole = Bytes(file);
    const std::string sixteenth(MAX_HELD_BACK_BYTES / 16 - 1, 'x');
    full = true;
    for (int i = 1; i <= 16; ++i) ASSERT_EQ(sink.Append(sixteenth + "\n"), SinkState::HeldBack) << i;
    EXPECT_EQ(sink.Append("tick 1\n"), SinkState::Lost) << "past the bound";
    full = false;
    EXPECT_EQ(sink.Append("tick 1\n"), SinkState::Lost);
    EXPECT_EQ(Bytes(file), whole);
}

}  // namespace
}  // namespace kestrel
