// The root's runs: sound collected from the nodes, the WAV export and the playback loop.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FileSizeLimit.h"
#include "ModelRig.h"
#include "TempFolders.h"
#include "TestData.h"

namespace {

template <class TUi> struct TRig : TModelRigOf<TUi> {
    TBlankNode* AddBlank(Extended seconds, uint32_t color = 0) {
        TBlankNode* b = this->Blank(this->Root->VideoTrack, seconds, color);
        this->Root->Refresh();
        return b;
    }
    // A sound device that plays along with the user's clock, for every run that opens one.
    std::shared_ptr<TFakeWaveOut> PlayAlong() {
        auto device = std::make_shared<TFakeWaveOut>();
        this->Root->WaveOutFactory = [device] { return device->MakeHandle(); };
        this->Ui.Device = device;
        return device;
    }
};
using Fixture = TRig<TTickingUi>;

// Threads of this process, as the system counts them.
size_t TaskCount() {
    return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                std::filesystem::directory_iterator()));
}

// A WAV export that ran out of room: it failed, said so with the system's reason, kept the old
// file at the name, left no working file and freed the root.
void ExpectRefusedKeepingTheOldFile(Fixture& f, bool exported, const std::string& name,
                                    const std::string& start) {
    EXPECT_FALSE(exported);
    ASSERT_FALSE(f.Ui.Messages.empty());
    EXPECT_EQ(f.Ui.Messages.back().rfind(start, 0), 0u) << f.Ui.Messages.back();
    EXPECT_NE(f.Ui.Messages.back().find(std::strerror(EFBIG)), std::string::npos);
    const auto bytes = ReadBytes(name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old sound");
    EXPECT_FALSE(std::filesystem::exists(name + ".~part"));
    EXPECT_FALSE(f.Root->Busy);
}

} // namespace

TEST(RootSound, HandlerQueuesUnlessAbortedOrMuted) {
    Fixture f;
    TAudioSourceInfo a(1, std::vector<uint8_t>(8, 1), 0, 0);
    EXPECT_TRUE(f.Root->AudioHandler(a));
    EXPECT_TRUE(f.Root->GetMixer().HasSources());
    f.Root->OpenForRender(0); // a run starts with an empty queue
    EXPECT_FALSE(f.Root->GetMixer().HasSources());
    f.Root->AudioOn = false;
    TAudioSourceInfo b(1, std::vector<uint8_t>(8, 1), 0, 0);
    EXPECT_FALSE(f.Root->AudioHandler(b));
    f.Root->Abort = true;
    EXPECT_TRUE(f.Root->AudioHandler(b));
    EXPECT_FALSE(f.Root->GetMixer().HasSources());
    EXPECT_TRUE(f.Root->WriteAudioChunk(false, 0)); // nothing queued is not an error
}

TEST(RootWaveExport, WritesExactlyTheProjectsLength) {
    // 2 s of 22050 Hz 16-bit stereo: 30 frames of 1470 sample frames. Odd-sized data is followed
    // by one pad byte that the data size leaves out.
    const struct {
        uint32_t Rate;
        uint16_t Channels, Bits;
        Extended Seconds;
        const char* Header;
        size_t Data;
        uint8_t Silence;
    } cases[] = {{22050, 2, 16, 2,
                  "52494646 34b10200 57415645 666d7420 10000000 0100 0200 22560000 88580100 0400 "
                  "1000 64617461 10b10200",
                  176400, 0},
                 {11025, 1, 8, 1,
                  "52494646 362b0000 57415645 666d7420 10000000 0100 0100 112b0000 112b0000 0100 "
                  "0800 64617461 112b0000",
                  11025, 0x80}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Bits);
        TTempDir dir;
        Fixture f;
        f.AddBlank(c.Seconds);
        MakePcmFormat(f.Root->AudioFormat, c.Rate, c.Channels, c.Bits);
        const std::string name = dir.Path + "/out.wav";
        std::string status = "Ready";
        std::vector<std::string> texts;
        TStatusPanel panel{[&status] { return status; },
                           [&status, &texts](const std::string& s) {
                               status = s;
                               texts.push_back(s);
                           }};
        ASSERT_TRUE(f.Root->ExportWave(false, 0, &panel, name, f.Root->GetFrameCount()));
        const auto bytes = ReadBytes(name);
        ASSERT_EQ(bytes.size(), 44 + c.Data + c.Data % 2);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44), HexBytes(c.Header));
        EXPECT_EQ(std::count(bytes.begin() + 44, bytes.begin() + 44 + long(c.Data), c.Silence),
                  long(c.Data));
        EXPECT_EQ(status, "Ready");
        EXPECT_EQ(f.Ui.Messages.back(), "Finish writing " + name);
        EXPECT_FALSE(f.Root->Busy);
        EXPECT_EQ(f.Root->Target, tgWavWriter);
        EXPECT_EQ(f.Ui.BusyDepth, 0);
        if (c.Bits == 16) {
            ASSERT_GT(texts.size(), 1u); // eleven of 30 frames at i = 10
            EXPECT_EQ(texts[1], "Progress: 36% (Press Escape to stop)");
        } else {
            EXPECT_FALSE(f.Root->ExportWave(false, 0, nullptr, name, 0));
            f.Root->FrameRate = 0;
            EXPECT_FALSE(f.Root->ExportWave(false, 0, nullptr, name, 10));
        }
    }
}

TEST(RootWaveExport, EncodedThroughTheCodec) {
    TTempDir dir;
    Fixture f;
    f.AddBlank(1);
    f.Root->AudioMode = 0x11; // IMA ADPCM
    const TAudioFormat before = f.Root->AudioFormat;
    const std::string name = dir.Path + "/ima.wav";
    ASSERT_TRUE(f.Root->ExportWave(false, 0, nullptr, name, f.Root->GetFrameCount()));
    auto bytes = ReadBytes(name);
    ASSERT_GT(bytes.size(), 60u);
    EXPECT_EQ(bytes[20] | (bytes[21] << 8), 0x11); // format tag in the fmt chunk
    EXPECT_EQ(0, std::memcmp(&before, &f.Root->AudioFormat, sizeof before));
}

// A full disk (the file size limit stands in) fails the export with the system's reason, and
// the WAV file already at the name stays as it was.
TEST(RootWaveExport, FullDiskNamesTheReasonAndKeepsTheOldFile) {
    TTempDir dir;
    Fixture f;
    f.AddBlank(2);
    MakePcmFormat(f.Root->AudioFormat, 44100, 2, 16);
    const std::string name = dir.Path + "/out.wav";
    std::ofstream(name, std::ios::binary) << "old sound";
    f.Ui.Answers.push_back(TMsgResult::OK); // replace it
    TFileSizeLimit limit(65536);
    ASSERT_TRUE(limit.Active());
    const bool exported = f.Root->ExportWave(false, 0, nullptr, name, f.Root->GetFrameCount());
    limit.Lift();
    ExpectRefusedKeepingTheOldFile(f, exported, name,
                                   "Fail to write " + name + " (writing at offset ");
    // Room again: the next export replaces the old file with the whole sound.
    f.Ui.Answers.push_back(TMsgResult::OK);
    ASSERT_TRUE(f.Root->ExportWave(false, 0, nullptr, name, f.Root->GetFrameCount()));
    EXPECT_EQ(ReadBytes(name).size(), 44u + 2 * 176400);
}

// An exception midway through a WAV export (here from the progress text of frame 10) leaves the
// root ready for the next: not busy, its format back, no file held open, the old file as it was.
// Memory that runs out is reported; anything else goes on to the caller.
TEST(RootWaveExport, AnExceptionMidwayLeavesTheRootReady) {
    for (const bool memory : {true, false}) {
        SCOPED_TRACE(memory);
        TTempDir dir;
        Fixture f;
        f.AddBlank(2);
        MakePcmFormat(f.Root->AudioFormat, 44100, 2, 16);
        const TAudioFormat format = f.Root->AudioFormat;
        const std::string name = dir.Path + "/out.wav";
        std::ofstream(name, std::ios::binary) << "old sound";
        std::string status = "Ready";
        int texts = 0;
        TStatusPanel panel{[&status] { return status; },
                           [&](const std::string& s) {
                               if (++texts == 2 && memory)
                                   throw std::bad_alloc();
                               if (texts == 2)
                                   throw std::runtime_error("lost the panel");
                               status = s;
                           }};
        f.Ui.Answers.push_back(TMsgResult::OK); // replace it
        const auto run = [&] {
            return f.Root->ExportWave(false, 0, &panel, name, f.Root->GetFrameCount());
        };
        if (memory) {
            EXPECT_FALSE(run());
            EXPECT_EQ(f.Ui.Messages,
                      std::vector<std::string>{"Not enough memory to export " + name});
        } else {
            EXPECT_THROW(run(), std::runtime_error);
            EXPECT_TRUE(f.Ui.Messages.empty());
        }
        EXPECT_FALSE(f.Root->Busy);
        EXPECT_EQ(f.Ui.BusyDepth, 0);
        EXPECT_EQ(status, "Ready");
        EXPECT_EQ(0, std::memcmp(&format, &f.Root->AudioFormat, sizeof format));
        const auto old = ReadBytes(name);
        EXPECT_EQ(std::string(old.begin(), old.end()), "old sound");
        EXPECT_FALSE(std::filesystem::exists(name + ".~part"));

        f.Ui.Answers.push_back(TMsgResult::OK);
        ASSERT_TRUE(f.Root->ExportWave(false, 0, nullptr, name, f.Root->GetFrameCount()));
        EXPECT_EQ(ReadBytes(name).size(), 44u + 2 * 176400);
        EXPECT_FALSE(f.Root->Busy);
    }
}

// A status panel that throws on every change: the export ends with the first exception (memory
// reported, anything else to the caller), the program runs on and the root is ready for the next.
TEST(RootWaveExport, APanelThatAlwaysThrowsLeavesTheRootReady) {
    for (const bool memory : {true, false}) {
        SCOPED_TRACE(memory);
        TTempDir dir;
        Fixture f;
        f.AddBlank(2);
        f.Root->AudioMode = 0x11; // with the codec open
        const TAudioFormat format = f.Root->AudioFormat;
        const std::string name = dir.Path + "/out.wav";
        int sets = 0;
        TStatusPanel panel{[] { return std::string("Ready"); },
                           [&](const std::string&) {
                               ++sets;
                               if (memory)
                                   throw std::bad_alloc();
                               throw std::runtime_error("lost the panel");
                           }};
        const auto run = [&] {
            return f.Root->ExportWave(false, 0, &panel, name, f.Root->GetFrameCount());
        };
        if (memory)
            EXPECT_FALSE(run());
        else
            EXPECT_THROW(run(), std::runtime_error);
        EXPECT_EQ(sets, 2); // the first progress text, then the kept text given back
        EXPECT_EQ(f.Ui.Messages,
                  memory ? std::vector<std::string>{"Not enough memory to export " + name}
                         : std::vector<std::string>{});
        EXPECT_FALSE(f.Root->Busy);
        EXPECT_EQ(f.Ui.BusyDepth, 0);
        EXPECT_EQ(0, std::memcmp(&format, &f.Root->AudioFormat, sizeof format));
        EXPECT_FALSE(std::filesystem::exists(name));
        EXPECT_FALSE(std::filesystem::exists(name + ".~part"));
        ASSERT_TRUE(f.Root->ExportWave(false, 0, nullptr, name, f.Root->GetFrameCount()));
        EXPECT_FALSE(f.Root->Busy);
    }
}

// A file that cannot take its last bytes (the codec's remainder, written as the file is
// completed) fails the export with the reason, and the file already at the name stays.
TEST(RootWaveExport, AFileThatCannotBeCompletedKeepsTheOldFile) {
    TTempDir dir;
    Fixture f;
    f.AddBlank(2);
    f.Root->AudioMode = 0x11;
    const std::string whole = dir.Path + "/whole.wav", name = dir.Path + "/out.wav";
    ASSERT_TRUE(f.Root->ExportWave(false, 0, nullptr, whole, f.Root->GetFrameCount()));
    const size_t size = ReadBytes(whole).size();
    std::ofstream(name, std::ios::binary) << "old sound";
    f.Ui.Answers.push_back(TMsgResult::OK); // replace it
    TFileSizeLimit limit(size - 1);
    ASSERT_TRUE(limit.Active());
    const bool exported = f.Root->ExportWave(false, 0, nullptr, name, f.Root->GetFrameCount());
    limit.Lift();
    ExpectRefusedKeepingTheOldFile(f, exported, name, "Fail to write " + name + " (");
}

TEST(RootPlayback, FrameByFrameDrawsTheStartFrameFirst) {
    Fixture f;
    f.AddBlank(4, 0x00FF00);
    f.Root->SoundInPlayback = false;
    TBitmap view(32, 24);
    std::vector<int32_t> frames;
    auto note = [&frames](TFrameReport& r) { frames.push_back(r.Frame); };
    TPictureControl image{&view, nullptr, nullptr};
    // Each frame is reported once, when drawn, from the start frame to the end frame; to the
    // project's end that is the last frame (59 of 60), not past it.
    ASSERT_TRUE(f.Root->Play(10, 20, false, note, image));
    ASSERT_EQ(frames.size(), 11u);
    EXPECT_EQ(frames.front(), 10);
    EXPECT_EQ(frames[1], 11);
    EXPECT_EQ(frames.back(), 20);
    frames.clear();
    ASSERT_TRUE(f.Root->Play(50, -1, false, note, image));
    EXPECT_EQ(frames, (std::vector<int32_t>{50, 51, 52, 53, 54, 55, 56, 57, 58, 59}));
    // Sound in playback on: frame by frame still opens no device.
    f.Root->SoundInPlayback = true;
    f.Root->WaveOutFactory = []() -> std::unique_ptr<IWaveOut> {
        ADD_FAILURE() << "a device was made";
        return nullptr;
    };
    ASSERT_TRUE(f.Root->Play(55, -1, false, nullptr, image));
    EXPECT_EQ(f.Root->GetThreadCount(), 0u);
    EXPECT_EQ(view.ScanLine(5)[3 * 5 + 1], 0xFF);
    EXPECT_EQ(f.Root->GetStreamer(), nullptr);
    EXPECT_EQ(f.Root->GetThreadCount(), 0u);
    EXPECT_FALSE(f.Root->Busy);
}

TEST(RootPlayback, RealTimeEndsAtTheLastFrameWithSound) {
    Fixture f;
    f.AddBlank(1);
    f.PlayAlong();
    std::vector<TFrameReport> reports;
    TPictureControl image{};
    ASSERT_TRUE(f.Root->Play(
        0, 0, true, [&reports](TFrameReport& r) { reports.push_back(r); }, image));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().Frame, f.Root->GetFrameCount());
    EXPECT_TRUE(reports.back().RealTime);
    // The finished thread is kept until later threads retire it.
    EXPECT_EQ(f.Root->GetThreadCount(), 1u);
    EXPECT_EQ(f.Root->GetStreamer(), nullptr);
}

// A play whose sound stays off makes no wave-output thread, and each one a play with sound starts
// ends with it: six plays of either kind leave no thread behind.
TEST(RootPlayback, PlaysLeaveNoSoundThreadBehind) {
    Fixture f;
    f.AddBlank(0.5);
    auto device = f.PlayAlong();
    f.Root->SoundInPlayback = true;
    f.Root->AudioOn = false;
    TPictureControl image{};
    const size_t before = TaskCount();
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(f.Root->Play(0, 0, true, nullptr, image));
        EXPECT_EQ(TaskCount(), before) << "play " << i;
    }
    EXPECT_EQ(f.Root->GetThreadCount(), 0u);
    EXPECT_EQ(device->CallCount("open"), 0);

    f.Root->AudioOn = true;
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(f.Root->Play(0, 0, true, nullptr, image));
    // Finished threads are kept until more than two have gathered; each ends by itself.
    EXPECT_LE(f.Root->GetThreadCount(), 3u);
    for (int wait = 0; wait < 500 && TaskCount() != before; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(TaskCount(), before);
}

TEST(RootPlayback, StopEndsTheRun) {
    Fixture f;
    f.AddBlank(10);
    f.Root->SoundInPlayback = false;
    int reports = 0;
    TPictureControl image{};
    ASSERT_TRUE(f.Root->Play(
        0, 0, false,
        [&](TFrameReport&) {
            if (++reports == 3)
                f.Root->Stop();
        },
        image));
    EXPECT_EQ(reports, 3); // no final report after a stop
}

TEST(RootPlayback, GatheredSoundNeverOverrunsItsBuffer) {
    // At the add-on preview's 1 frame per second one frame of sound (88200 bytes) is larger than
    // the whole gather buffer (11025 bytes); it must go on by itself.
    Fixture f;
    f.AddBlank(3);
    f.Root->BufferAudio = true;
    auto device = std::make_shared<TFakeWaveOut>();
    f.Root->WaveOutFactory = [device] { return device->MakeHandle(); };
    TPictureControl image{};
    TAddOnPreviewScope preview;
    f.Root->FrameRate = 1;
    int sent = 0;
    auto note = [&f, &sent](TFrameReport& r) {
        TAudioSourceInfo a(1, std::vector<uint8_t>(4, 0), 0, 0);
        // a frame of it is sent as it is
        if (sent++ == 0 && f.Root->AudioHandler(a)) {
            EXPECT_TRUE(f.Root->WriteAudioChunk(false, r.Frame));
        }
    };
    ASSERT_TRUE(f.Root->Play(0, 0, true, note, image));
    EXPECT_GT(sent, 0);
    EXPECT_EQ(f.Root->GetThreadCount(), 1u);
}

TEST(RootPlayback, PrerollIsAboutASecondOfSilence) {
    TAudioFormat f;
    MakePcmFormat(f, 22050, 2, 16);
    int32_t count = 0;
    size_t bytes = 0;
    TProjectNode::PrerollBlocks(15, f, count, bytes);
    EXPECT_EQ(count, 17);
    EXPECT_EQ(bytes, 5880u);
    MakePcmFormat(f, 11025, 1, 8);
    TProjectNode::PrerollBlocks(25, f, count, bytes);
    EXPECT_EQ(count, 25); // Round(12.5) is 12, twice, plus one
    EXPECT_EQ(bytes, 441u);
}

namespace {
// A clock that jumps 150 ms at every pump: the picture can not keep up and frames are skipped.
class TRushingUi : public TFakeUiServices {
public:
    void ProcessMessages() override {
        TFakeUiServices::ProcessMessages();
        AdvanceClock(150);
        RunPosted();
    }
};
} // namespace

TEST(RootPlayback, RealTimeDropsFramesWhenTheClockRunsAhead) {
    TRig<TRushingUi> f;
    TProjectNode& root = *f.Root;
    root.SoundInPlayback = false;
    f.AddBlank(4);
    std::vector<int32_t> frames;
    TPictureControl image{};
    ASSERT_TRUE(root.Play(
        0, 0, true, [&frames](TFrameReport& r) { frames.push_back(r.Frame); }, image));
    ASSERT_GE(frames.size(), 3u);
    EXPECT_LT(frames.size(), 30u); // far fewer than the 60 frames of the project
    EXPECT_GT(frames[1] - frames[0], 1);
    EXPECT_EQ(frames.back(), 60);
    // A clock past the end frame still closes on the end frame itself.
    frames.clear();
    ASSERT_TRUE(root.Play(
        0, 1, true, [&frames](TFrameReport& r) { frames.push_back(r.Frame); }, image));
    EXPECT_EQ(frames.back(), 1);
}
