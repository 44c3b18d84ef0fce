// A room's checkpoint on disk: written whole by the writer thread, read
// back only when it is whole and checks out, and otherwise passed over for
// the room's whole recording, which brings the room to the same state.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/Room.h"
#include "server/disk/Checkpoint.h"
#include "server/disk/KeptRoom.h"
#include "server/rooms/RandomId.h"
#include "server/disk/RoomFiles.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::uint64_t EVERY = 200, KILLED_AT = 520;

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

// A folder that keeps one room, killed at KILLED_AT with a press held,
// and its checkpoint of tick 400 written by the writer.
class CheckpointTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(folder);
        ASSERT_TRUE(WriteRoomRecord(folder, id, {.key = RandomHexId().value(), .width = 400, .height = 300}));
        CheckpointWriter writer;
        Room room(GameRandom(7), {.width = 400, .height = 300, .checkpointTicks = EVERY},
                  std::make_unique<RoomRecordingSink>(recording, false, &writer));
        const ClientId player = room.Join(true).client;
        for (std::uint64_t t = 1; t <= KILLED_AT; ++t) {
            if (t % 150 == 0) room.Receive(player, WriteStep({.kind = Kind::Key, .number = 'k'}));
            if (t == 390) room.Receive(player, WriteStep({.kind = Kind::Down, .button = 1, .x = 30, .y = 40}));
            room.Tick();
        }
        writer.Finish();
        good = ReadAll(checkpoint);
        whole = Resumed(ReadWholeLines(recording, MAX_RECORDING_BYTES).value(), std::nullopt);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    struct State {
        std::uint64_t ticks, hash, joinTick;
        std::string joinText;
        bool operator==(const State&) const = default;
    };
    static State Resumed(const std::string& recording, const std::optional<RoomCheckpoint>& from) {
        const Room room(GameRandom(1), {.recording = recording, .resumed = true, .checkpoint = from},
                        std::make_unique<MemoryRecordingSink>());
        return {room.Ticks(), room.Referee().StateHash(), room.JoinTick(), room.JoinText()};
    }
    static State Resumed(const RoomToResume& kept) { return Resumed(kept.start.recording, kept.start.checkpoint); }
    RoomToResume Read() {
        Result<RoomToResume> read = ReadKeptRoom(folder, id);
        EXPECT_TRUE(read.Ok()) << read.Why();
        return *std::move(read);
    }
    // Played from the whole recording, as it would have been with no checkpoint.
    void ExpectPassedOver(const std::string& what, const std::string& reason) {
        const RoomToResume kept = Read();
        EXPECT_FALSE(kept.start.checkpoint) << what;
        EXPECT_EQ(kept.damagedCheckpoint, "its checkpoint is damaged (" + reason + "); played from its recording")
            << what;
        EXPECT_EQ(Resumed(kept), whole) << what;
    }

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("kestrel-checkpoint-" + std::to_string(getpid()));
    const std::string id = RandomHexId().value();
    const std::filesystem::path recording = RoomRecordingFile(folder, id), checkpoint = CheckpointBeside(recording);
    std::string good;
    State whole;
};

// The newest checkpoint reads back as the room kept it, and resumes the
// room to the state its whole recording gives, from the recording's tail.
TEST_F(CheckpointTest, AGoodCheckpointResumesTheRoomFromItsTick) {
    const Result<std::optional<RoomCheckpoint>> loaded = LoadCheckpoint(checkpoint);
    ASSERT_TRUE(loaded) << loaded.Why();
    ASSERT_TRUE(*loaded);
    const RoomCheckpoint& read = **loaded;
    EXPECT_EQ(read.tick, 400u);
    EXPECT_EQ(read.held, (HeldPointer{1, 30, 40}));
    const Result<RoomCheckpoint> again = ReadCheckpointText(WriteCheckpointText(read));
    ASSERT_TRUE(again) << again.Why();
    EXPECT_EQ(*again, read);

    const RoomToResume kept = Read();
    ASSERT_TRUE(kept.start.checkpoint);
    EXPECT_EQ(kept.damagedCheckpoint, "");
    EXPECT_EQ(kept.start.recording, ReadAll(recording).substr(kept.start.checkpoint->recordingBytes));
    EXPECT_EQ(Resumed(kept), whole);
    EXPECT_EQ(whole.ticks, KILLED_AT);

    // A .new file a crash left beside it is never read, and the next start
    // removes it, and no other file.
    WriteAll(checkpoint.string() + ".new", good.substr(0, good.size() / 2));
    EXPECT_TRUE(Read().start.checkpoint);
    WriteAll(folder / "notes.checkpoint.new", "");
    EXPECT_EQ(RemoveUnsavedCheckpoints(folder), std::vector<std::string>{id});
    EXPECT_FALSE(std::filesystem::exists(checkpoint.string() + ".new"));
    EXPECT_TRUE(std::filesystem::exists(checkpoint) && std::filesystem::exists(folder / "notes.checkpoint.new"));
    EXPECT_TRUE(Read().start.checkpoint);
    std::filesystem::remove(checkpoint);
    EXPECT_FALSE(Read().start.checkpoint);
    EXPECT_EQ(Read().damagedCheckpoint, "") << "no checkpoint is no damage";
}

TEST_F(CheckpointTest, ADamagedCheckpointIsPassedOver) {
    for (std::size_t cut = 0; cut < good.size(); cut += good.size() / 9 + 1) {
        WriteAll(checkpoint, good.substr(0, cut));
        ExpectPassedOver("cut at " + std::to_string(cut), "it is cut short");
    }
    WriteAll(checkpoint, good.substr(0, good.size() - 1));
    ExpectPassedOver("its last byte cut", "it is cut short");
    for (std::size_t at = 0; at + 10 < good.size(); at += good.size() / 7 + 1) {
        std::string changed = good;
        changed[at] ^= 0x20;
        WriteAll(checkpoint, changed);
        ExpectPassedOver("byte " + std::to_string(at) + " changed", "it fails its checksum");
    }

    RoomCheckpoint read = *ReadCheckpointText(good);
    read.stateHash += 1;
    ASSERT_TRUE(SaveCheckpoint(checkpoint, read));
    ExpectPassedOver("another hash", "its replay does not reach its state hash");

    read = *ReadCheckpointText(good);
    read.recordingBytes -= 1;
    ASSERT_TRUE(SaveCheckpoint(checkpoint, read));
    ExpectPassedOver("bytes mid-line", "its recording's bytes do not end a line");

    // The recording lost its tail: the room goes on from what is left.
    WriteAll(checkpoint, good);
    std::filesystem::resize_file(recording, ReadCheckpointText(good)->recordingBytes - 1);
    whole = Resumed(ReadWholeLines(recording, MAX_RECORDING_BYTES).value(), std::nullopt);
    ExpectPassedOver("a recording shorter than it names", "it names more of the recording than its file holds");
}

// The recording lost its tail (its last writes never reached the disk, say)
// and the room came back from what is left, with players who now act
// otherwise; it is killed before its next checkpoint. Its old checkpoint
// names bytes the file holds again, but they are another battle's now: it
// must not be taken up.
TEST_F(CheckpointTest, ACheckpointPassedOverIsNotTakenUpOnceTheFileGrowsPastIt) {
    const std::string original = ReadAll(recording);
    const std::uint64_t named = ReadCheckpointText(good)->recordingBytes;
    int takenUp = 0;
    for (std::size_t cut = original.rfind('\n', named - 2); cut > named - 200; cut = original.rfind('\n', cut - 1)) {
        WriteAll(recording, original.substr(0, cut + 1));
        WriteAll(checkpoint, good);
        {
            RoomToResume kept = Read();
            ASSERT_FALSE(kept.start.checkpoint);
            kept.start.checkpointTicks = 1'000'000;
            Room room(GameRandom(3), kept.start, KeptRecording(folder, id, kept, nullptr));
            const ClientId player = room.Join(true).client;
            for (int t = 1; t <= 300; ++t) {
                if (t % 5 == 0) room.Receive(player, WriteStep({.kind = Kind::Key, .number = 'j'}));
                room.Tick();
            }
            room.Flush();
        }
        whole = Resumed(ReadWholeLines(recording, MAX_RECORDING_BYTES).value(), std::nullopt);
        const RoomToResume again = Read();
        if (again.start.checkpoint && Resumed(again) != whole) ++takenUp;
    }
    EXPECT_EQ(takenUp, 0) << "times the old checkpoint resumed the room to another state than its recording";
}

// A folder keeps every room ever made: a restart waits for those that had
// not ended, and names the recordings that have no record.
TEST_F(CheckpointTest, TheRoomsToResumeAreThoseThatHadNotEnded) {
    const std::string ended = "1" + std::string(31, '0'), orphan = "2" + std::string(31, '0');
    ASSERT_TRUE(WriteRoomRecord(folder, ended, {.key = RandomHexId().value(), .width = 400, .height = 300, .ended = true}));
    WriteAll(RoomRecordingFile(folder, ended), "version 1\nseed 1\nsize 400 300\n");
    WriteAll(RoomRecordingFile(folder, orphan), "version 1\nseed 1\nsize 400 300\n");
    std::vector<std::string> expected{id, orphan};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(RoomsToResume(folder), expected);
    ASSERT_TRUE(MarkRoomEnded(folder, id));
    EXPECT_EQ(RoomsToResume(folder), std::vector<std::string>{orphan});
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// A room of players keeps its seats' scores where its checkpoint's join
// text starts: resumed from the checkpoint, it has the scores the whole
// recording gives.
TEST(SeatedCheckpoint, ResumesToTheScoresOfTheWholeRecording) {
    auto made = std::make_unique<MemoryRecordingSink>();
    const MemoryRecordingSink& sink = *made;
    Room room(GameRandom(7), {.checkpointTicks = 2000}, std::move(made));
    for (const char token : {'a', 'b', 'c'}) room.Join(true, {}, std::string(SEAT_TOKEN_DIGITS, token));
    for (int t = 0; t < 8000; ++t) room.Tick();
    room.Flush();
    const RoomCheckpoint& kept = sink.LastCheckpoint().value();
    EXPECT_NE(kept.joinScores, SeatScores{}) << "the battles so far took some tanks";
    const Result<RoomCheckpoint> read = ReadCheckpointText(WriteCheckpointText(kept));
    ASSERT_TRUE(read) << read.Why();
    EXPECT_EQ(*read, kept);
    const std::string whole = sink.Written(MAX_RECORDING_BYTES).value();
    const Room fromCheckpoint(GameRandom(1),
                              {.recording = whole.substr(kept.recordingBytes), .resumed = true, .checkpoint = *read},
                              std::make_unique<MemoryRecordingSink>());
    EXPECT_EQ(fromCheckpoint.SeatRecord(), room.SeatRecord());
    EXPECT_EQ(fromCheckpoint.Referee().StateHash(), room.Referee().StateHash());
}

}  // namespace
}  // namespace kestrel
