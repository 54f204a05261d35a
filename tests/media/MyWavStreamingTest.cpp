#include "MyWavStreaming.h"

#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "FakeWaveOut.h"
#include "MyExceptions.h"

namespace {

// Polls a condition the worker makes true; false after a generous time (a hung worker).
bool WaitUntil(const std::function<bool()>& condition) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TAudioFormat StereoFormat() {
    TAudioFormat f{};
    MakePcmFormat(f, 22050, 2, 16);
    return f;
}

// A player on a fake device, with counters for its two events.
struct TStreamerRig {
    TFakeUiServices Ui;
    std::shared_ptr<TFakeWaveOut> Device = std::make_shared<TFakeWaveOut>();
    std::unique_ptr<TPassiveStreamer> Streamer =
        std::make_unique<TPassiveStreamer>(&Ui, Device->MakeHandle());
    std::atomic<int> DoneCalls{0};
    std::atomic<bool> DoneOnWorker{false};
    int TerminateCalls = 0;
    TCustomWavePlayer* TerminateSender = nullptr;

    void Init(const TAudioFormat& format = StereoFormat()) {
        std::thread::id gui = std::this_thread::get_id();
        Streamer->Init(
            format,
            [this, gui](TCustomWavePlayer*) {
                ++DoneCalls;
                DoneOnWorker = std::this_thread::get_id() != gui;
            },
            [this](TCustomWavePlayer* sender) {
                ++TerminateCalls;
                TerminateSender = sender;
            });
    }
};

} // namespace

TEST(MyWavStreamingTest, AudioBlockIsMovedNotCopied) {
    TAudioBlock a = TAudioBlock::Filled(4, 0xAB), c(5);
    const uint8_t* bytes = a.Data();
    TAudioBlock b = std::move(a);
    EXPECT_TRUE(a.Empty() && a.Data() == nullptr);
    EXPECT_EQ(b.Data(), bytes);
    EXPECT_EQ(b.Data()[3], 0xAB);
    c = std::move(b);
    EXPECT_EQ(c.Size(), 4u);
    EXPECT_TRUE(b.Empty());
}

TEST(MyWavStreamingTest, BlocksPlayInOrderAndAreReapedAsTheyFinish) {
    TStreamerRig rig;
    {
        // The streamer keeps its own copy of the format.
        TAudioFormat format = StereoFormat();
        rig.Init(format);
        format.Wfx.nChannels = 1;
    }
    rig.Streamer->Start();
    // 1/10 s each (2205 bytes per 1/40 s: 8820 bytes), told apart by their fill.
    for (int i = 0; i < 3; ++i) {
        TAudioBlock block = TAudioBlock::Filled(8820, uint8_t(0x10 + i));
        EXPECT_EQ(rig.Streamer->Write(block), i + 1);
        EXPECT_TRUE(block.Empty()) << "the streamer took the block";
    }
    EXPECT_EQ(rig.Streamer->GetQueuedCount(), 3);
    TWaveOutFormat opened = rig.Device->OpenedFormat();
    EXPECT_EQ(opened.Channels, 2);
    EXPECT_EQ(opened.SamplesPerSec, 22050u);
    EXPECT_EQ(opened.BitsPerSample, 16);

    // Half of the first block: nothing is done yet.
    rig.Device->Advance(50);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(rig.Streamer->GetQueuedCount(), 3);
    rig.Device->Advance(50);
    ASSERT_TRUE(WaitUntil([&] { return rig.Streamer->GetQueuedCount() == 2; }));
    rig.Device->Advance(200);
    ASSERT_TRUE(WaitUntil([&] { return rig.Streamer->GetQueuedCount() == 0; }));

    std::vector<uint8_t> played = rig.Device->Played();
    ASSERT_EQ(played.size(), 3u * 8820);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], 0x10 + i / 8820) << "byte " << i;
    EXPECT_EQ(rig.Device->CallCount("unprepare"), 3);

    rig.Streamer->Stop();
    rig.Streamer->WaitFor();
    EXPECT_TRUE(rig.Streamer->IsFinished());
    EXPECT_TRUE(rig.Streamer->IsTerminated());
    EXPECT_EQ(rig.DoneCalls, 1);
    EXPECT_TRUE(rig.DoneOnWorker);
    auto calls = rig.Device->Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "reset");
    EXPECT_EQ(calls.back(), "close");
    EXPECT_EQ(rig.Device->CallCount("open"), 1);
    EXPECT_TRUE(rig.Ui.Messages.empty());
}

TEST(MyWavStreamingTest, EmptyBlockQueuesNothing) {
    TStreamerRig rig;
    rig.Init();
    TAudioBlock first = TAudioBlock::Filled(100, 0);
    EXPECT_EQ(rig.Streamer->Write(first), 1);
    EXPECT_TRUE(rig.Streamer->IsStarted()); // the first Write starts the worker
    TAudioBlock empty;
    EXPECT_EQ(rig.Streamer->Write(empty), 1);
    EXPECT_EQ(rig.Streamer->GetQueuedCount(), 1);
    EXPECT_EQ(rig.Device->CallCount("write"), 1);
}

TEST(MyWavStreamingTest, RefusedBlocksStayWithTheCaller) {
    TStreamerRig rig;
    TAudioBlock block = TAudioBlock::Filled(64, 0x55);
    // Before Init.
    EXPECT_EQ(rig.Streamer->Write(block), -1);
    EXPECT_THROW(rig.Streamer->Start(), EInvalidOperation);
    rig.Init();
    rig.Streamer->Start();
    rig.Streamer->Stop();
    // After Stop, whether or not the worker has noticed yet.
    EXPECT_EQ(rig.Streamer->Write(block), -1);
    rig.Streamer->WaitFor();
    EXPECT_EQ(rig.Streamer->Write(block), -1);
    ASSERT_EQ(block.Size(), 64u);
    EXPECT_EQ(block.Data()[63], 0x55);
    EXPECT_EQ(rig.Device->CallCount("write"), 0);
    EXPECT_EQ(rig.Streamer->GetQueuedCount(), 0);
}

// An idle worker ends on Stop, and a Stop that comes before the worker runs is not lost.
TEST(MyWavStreamingTest, StopEndsAnIdleWorkerEvenBeforeItRuns) {
    for (bool early : {false, true}) {
        SCOPED_TRACE(early);
        TStreamerRig rig;
        rig.Init();
        if (early)
            rig.Streamer->Stop();
        rig.Streamer->Start();
        if (!early) {
            ASSERT_TRUE(WaitUntil([&] { return rig.Device->IsOpen(); }));
            rig.Streamer->Stop();
        }
        rig.Streamer->WaitFor();
        EXPECT_TRUE(rig.Streamer->IsFinished());
        EXPECT_FALSE(rig.Device->IsOpen());
        EXPECT_EQ(rig.DoneCalls, 1);
        EXPECT_TRUE(early || rig.Device->CallCount("reset") == 1);
    }
}

TEST(MyWavStreamingTest, OnTerminateRunsOnTheGuiThreadWithTheSender) {
    TStreamerRig rig;
    rig.Init();
    rig.Streamer->Start();
    rig.Streamer->Stop();
    rig.Streamer->WaitFor();
    EXPECT_EQ(rig.TerminateCalls, 0) << "not before the GUI thread runs it";
    EXPECT_EQ(rig.Ui.RunPosted(), 1);
    EXPECT_EQ(rig.TerminateCalls, 1);
    EXPECT_EQ(rig.TerminateSender, rig.Streamer.get());

    // Posted for a streamer freed before the GUI thread runs it: nothing happens.
    TStreamerRig gone;
    gone.Init();
    gone.Streamer->Start();
    gone.Streamer.reset();
    EXPECT_EQ(gone.Ui.RunPosted(), 1);
    EXPECT_EQ(gone.TerminateCalls, 0);
}

TEST(MyWavStreamingTest, DestroyingAPlayingStreamerFreesItsBlocksAndClosesTheDevice) {
    TStreamerRig rig;
    rig.Init();
    for (int i = 0; i < 5; ++i) {
        TAudioBlock block = TAudioBlock::Filled(5880, 0);
        rig.Streamer->Write(block);
    }
    rig.Device->Advance(10);
    rig.Streamer.reset();
    // Closing only succeeds once the device has let go of every block.
    EXPECT_FALSE(rig.Device->IsOpen());
    EXPECT_EQ(rig.Device->QueuedCount(), 0u);
    EXPECT_EQ(rig.DoneCalls, 1);
}

TEST(MyWavStreamingTest, NoDeviceGivesOneMessageAndRefusesBlocks) {
    TStreamerRig rig;
    rig.Device->DeviceCountResult = 0;
    rig.Init();
    rig.Streamer->Start();
    rig.Streamer->WaitFor(); // ends by itself
    TAudioBlock block = TAudioBlock::Filled(10, 1);
    EXPECT_EQ(rig.Streamer->Write(block), -1);
    EXPECT_EQ(block.Size(), 10u);
    EXPECT_EQ(rig.Ui.RunPosted(), 2); // the message and OnTerminate
    ASSERT_EQ(rig.Ui.Messages.size(), 1u);
    EXPECT_EQ(rig.Ui.Messages[0], WaveOutNoDeviceText);
    EXPECT_EQ(rig.Device->CallCount("open"), 0);
    EXPECT_FALSE(rig.Streamer->IsFinished());
    EXPECT_EQ(rig.DoneCalls, 0);
    EXPECT_EQ(rig.TerminateCalls, 1);
}

TEST(MyWavStreamingTest, OpenFailuresShowTheirMessage) {
    const std::pair<int32_t, const char*> cases[] = {
        {WaveOutAllocated, "Sound device is in use. Wait till it is freed"},
        {WaveOutNoDriver, "There is no suitable device for wave output"},
        {WaveOutBadFormat, "Wave audio format is not supported"},
        {WaveOutNoMem, "Unspecified audio error"},
        {WaveOutError, "Unspecified audio error"},
    };
    for (auto [code, text] : cases) {
        SCOPED_TRACE(text);
        TStreamerRig rig;
        rig.Device->OpenResult = code;
        rig.Init();
        // The first Write opens the device and is refused.
        TAudioBlock block = TAudioBlock::Filled(10, 1);
        EXPECT_EQ(rig.Streamer->Write(block), -1);
        EXPECT_EQ(block.Size(), 10u);
        EXPECT_EQ(rig.Ui.RunPosted(), 1);
        ASSERT_EQ(rig.Ui.Messages.size(), 1u);
        EXPECT_EQ(rig.Ui.Messages[0], text);
        EXPECT_EQ(rig.Streamer->Write(block), -1);
        EXPECT_EQ(rig.Device->CallCount("open"), 1);
    }
}

TEST(MyWavStreamingTest, WorkerThatCannotOpenWaitsForStop) {
    TStreamerRig rig;
    rig.Device->OpenResult = WaveOutAllocated;
    rig.Init();
    rig.Streamer->Start();
    ASSERT_TRUE(WaitUntil([&] { return rig.Device->CallCount("open") == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(rig.Streamer->IsFinished());
    rig.Streamer->Stop();
    rig.Streamer->WaitFor();
    EXPECT_TRUE(rig.Streamer->IsFinished());
    EXPECT_EQ(rig.DoneCalls, 1);
    EXPECT_EQ(rig.Device->CallCount("close"), 0);
    rig.Ui.RunPosted();
    EXPECT_EQ(rig.Ui.Messages.size(), 1u);
}

TEST(MyWavStreamingTest, DeviceFailureOnAHeaderEndsTheWorkerQuietly) {
    for (auto failing : {&TFakeWaveOut::PrepareResult, &TFakeWaveOut::WriteResult,
                         &TFakeWaveOut::UnprepareResult}) {
        TStreamerRig rig;
        (*rig.Device).*failing = WaveOutError;
        rig.Init();
        rig.Streamer->Start();
        TAudioBlock block = TAudioBlock::Filled(100, 1);
        // The block is taken even though the device failed on it.
        EXPECT_EQ(rig.Streamer->Write(block), 1);
        EXPECT_TRUE(block.Empty());
        rig.Device->Advance(1000);
        rig.Streamer->WaitFor(); // ends without Stop
        EXPECT_TRUE(rig.Streamer->IsFinished());
        EXPECT_EQ(rig.Streamer->GetQueuedCount(), 0);
        EXPECT_FALSE(rig.Device->IsOpen());
        EXPECT_EQ(rig.DoneCalls, 1);
        TAudioBlock later = TAudioBlock::Filled(100, 1);
        EXPECT_EQ(rig.Streamer->Write(later), -1);
        EXPECT_EQ(later.Size(), 100u);
        rig.Ui.RunPosted();
        EXPECT_TRUE(rig.Ui.Messages.empty());
    }
}

TEST(MyWavStreamingTest, WriteRacingTheWorkerOpensTheDeviceOnce) {
    for (int round = 0; round < 20; ++round) {
        TStreamerRig rig;
        rig.Device->OpenDelayMs = round % 3;
        rig.Init();
        rig.Streamer->Start();
        int last = 0;
        for (int i = 0; i < 4; ++i) {
            TAudioBlock block = TAudioBlock::Filled(400, uint8_t(i));
            last = rig.Streamer->Write(block);
            ASSERT_NE(last, -1);
            rig.Device->Advance(3);
        }
        EXPECT_GE(last, 1);
        EXPECT_EQ(rig.Device->CallCount("open"), 1);
        EXPECT_EQ(rig.Device->CallCount("count"), 1);
        rig.Device->Advance(1000);
        ASSERT_TRUE(WaitUntil([&] { return rig.Streamer->GetQueuedCount() == 0; }));
        std::vector<uint8_t> played = rig.Device->Played();
        ASSERT_EQ(played.size(), 1600u);
        EXPECT_EQ(played[0], 0);
        EXPECT_EQ(played[1599], 3);
    }
}

TEST(MyWavStreamingTest, WritesFromAnotherThreadAgainstStop) {
    // Every block is either refused (and kept) or taken and later freed by the streamer.
    TStreamerRig rig;
    rig.Init();
    rig.Streamer->Start();
    std::atomic<int> taken{0}, refused{0};
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            TAudioBlock block = TAudioBlock::Filled(64, 0);
            if (rig.Streamer->Write(block) < 0) {
                EXPECT_EQ(block.Size(), 64u);
                ++refused;
            } else {
                EXPECT_TRUE(block.Empty());
                ++taken;
            }
            rig.Device->Advance(1);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    rig.Streamer->Stop();
    writer.join();
    rig.Streamer->WaitFor();
    EXPECT_EQ(taken + refused, 200);
    EXPECT_EQ(rig.Device->CallCount("write"), taken.load());
    EXPECT_FALSE(rig.Device->IsOpen());
}
