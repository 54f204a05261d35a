#include "MyWMVWriter.h"

#include "FakeUiServices.h"
#include "FileSizeLimit.h"
#include "MediaProbe.h"
#include "TempFolders.h"

#include <cmath>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string Guid(int32_t index) {
    std::string g;
    TWMFBase::GetProfileByIdx(index, g);
    return g;
}

TWaveFormatEx Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    TAudioFormat f{};
    MakePcmFormat(f, rate, channels, bits);
    return f.Wfx;
}

TWMFInfo MakeInfo(const std::string& file, int32_t profile, Extended fps = 15) {
    TWMFInfo info;
    info.Name = file;
    info.AudioFormat = Pcm(22050, 1, 16);
    info.Width = 64;
    info.Height = 48;
    info.FrameRate = fps;
    info.Profile = Guid(profile);
    return info;
}

// Writes frames of a moving bar and a tone: the sound of each frame, then its picture.
bool WriteFrames(TWMVWriter& w, int frames, const TWMFInfo& info, bool sound = true) {
    const uint32_t perFrame =
        uint32_t(Round(Extended(info.AudioFormat.nSamplesPerSec) / info.FrameRate)) *
        info.AudioFormat.nBlockAlign;
    std::vector<uint8_t> block(perFrame);
    for (int i = 0; i < frames; ++i) {
        for (size_t k = 0; k + 1 < block.size(); k += 2) {
            const int16_t v = int16_t((k / 2 % 50 < 25) ? 8000 : -8000);
            block[k] = uint8_t(v);
            block[k + 1] = uint8_t(uint16_t(v) >> 8);
        }
        TCanvas& c = w.GetBitmap().Canvas();
        c.Brush.Color = 0x202020;
        c.FillRect(Rect(0, 0, w.GetBitmap().Width(), w.GetBitmap().Height()));
        c.Brush.Color = 0xFFFFFF;
        c.FillRect(Rect(i * 4 % 48, 0, i * 4 % 48 + 16, 48));
        if (sound && !w.WriteAudio(block.data(), uint32_t(block.size())))
            return false;
        if (!w.WriteVideoFrame())
            return false;
    }
    return true;
}

// Seconds into the file of the first decoded sound sample louder than level (full scale 1);
// -1 when there is none.
double SoundOnset(const std::string& file, float level) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, file.c_str(), nullptr, nullptr) < 0)
        return -1;
    double onset = -1;
    const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    if (index >= 0 && avformat_find_stream_info(fmt, nullptr) >= 0) {
        const AVStream* st = fmt->streams[index];
        dec = avcodec_alloc_context3(avcodec_find_decoder(st->codecpar->codec_id));
        avcodec_parameters_to_context(dec, st->codecpar);
        avcodec_open2(dec, nullptr, nullptr);
        while (onset < 0 && av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == index && avcodec_send_packet(dec, pkt) >= 0) {
                while (onset < 0 && avcodec_receive_frame(dec, f) >= 0) {
                    EXPECT_EQ(f->format, AV_SAMPLE_FMT_FLTP);
                    for (int i = 0; i < f->nb_samples && onset < 0; ++i)
                        if (std::abs(reinterpret_cast<const float*>(f->data[0])[i]) > level)
                            onset =
                                double(f->pts) * av_q2d(st->time_base) + double(i) / f->sample_rate;
                }
            }
            av_packet_unref(pkt);
        }
    }
    av_frame_free(&f);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return onset;
}

class WMVWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TWMFBase::IsWMVCoreAvailable())
            GTEST_SKIP() << "no ASF muxer or WMV 8 / WMA 2 encoder";
    }
    TFakeUiServices Ui;
    TTempDir Dir;
};

} // namespace

TEST(WMFBase, ProfileTable) {
    std::vector<std::string> names{"stale"};
    TWMFBase::FillProfileNames(names);
    ASSERT_EQ(names.size(), 27u);
    EXPECT_EQ(names[0], "Windows Media Video 8 for Color Pocket PCs (225 Kbps)");
    EXPECT_EQ(names[14], "Windows Media Video 8 for Broadband (PAL, 700 Kbps)");
    EXPECT_EQ(names[26], "Windows Media Audio 8 for ISDN (Better than CD quality, 128 Kbps)");
    for (int32_t i = 0; i < 27; ++i) {
        EXPECT_EQ(WMFProfiles[i].Index, i + 1);
        EXPECT_EQ(TWMFBase::IndexOfProfile(Guid(i)), i);
        const TWMFParams& p = TWMFBase::GetProfileParams(i);
        const bool audioOnly = i >= 20;
        EXPECT_EQ(WMFProfiles[i].Kind, audioOnly ? 'A' : 'V');
        EXPECT_EQ(p.VideoBitRate == 0, audioOnly) << i;
        EXPECT_EQ(p.AudioRate == 0, i == 15 || i == 16) << i;
        std::string ext;
        TWMFBase::GetProfileExtension(Guid(i), ext);
        EXPECT_EQ(ext, audioOnly ? "wma" : "wmv");
    }
    EXPECT_EQ(Guid(14), "{EC298949-639B-45E2-96FD-4AB32D5919C2}");
    EXPECT_EQ(TWMFBase::IndexOfProfile("{ec298949-639b-45e2-96fd-4ab32d5919c2}"), 14);
    EXPECT_EQ(TWMFBase::IndexOfProfile("{7EA3126D-E1BA-4716-89AF-F65CEE0C0C67}"), 20);
    EXPECT_EQ(TWMFBase::IndexOfProfile("{00000000-0000-0000-0000-000000000000}"), 14);
    EXPECT_EQ(TWMFBase::IndexOfProfile(""), 14);
    std::string ext;
    TWMFBase::GetProfileExtension("nonsense", ext);
    EXPECT_EQ(ext, "wmv");
    EXPECT_THROW(TWMFBase::GetProfileByIdx(27, ext), Exception);
    EXPECT_THROW(TWMFBase::GetProfileDescription(-1, ext), Exception);
    std::string text;
    TWMFBase::GetProfileDescription(20, text);
    EXPECT_EQ(text, "Use this profile for radio and music content (audio only).");
}

// Filling the information of a profile clears first what an earlier profile left: an audio-only
// profile leaves nothing of the video before it, a video-only one nothing of the sound.
TEST(WMFBase, ProfileInfoIsClearedBeforeItIsFilled) {
    TWMFInfo info;
    info.Name = "keep.wmv";
    info.Profile = "{keep}";
    const struct {
        int32_t Profile, Width, Height, Fps;
        uint32_t VideoBitRate, AudioBitRate, Rate;
        uint16_t Channels, Tag;
        const char* Pixel;
    } rows[] = {{14, 720, 576, 25, 636000u >> 13, 64000u >> 10, 44100, 2, 1, "24bit"},
                {20, 0, 0, 0, 0, 24000u >> 10, 22050, 1, 1, ""},
                {15, 160, 120, 15, 3, 0, 0, 0, 0, "24bit"},
                {16, 160, 120, 15, 56000u >> 13, 0, 0, 0, 0, "24bit"}};
    for (const auto& c : rows) {
        TWMFBase::GetProfileInfo(Guid(c.Profile), info);
        SCOPED_TRACE(c.Profile);
        EXPECT_EQ(info.Width * 1000 + info.Height, c.Width * 1000 + c.Height);
        EXPECT_EQ(info.FrameRate, c.Fps);
        EXPECT_EQ(info.VideoBitRate, c.VideoBitRate);
        EXPECT_EQ(info.AudioBitRate, c.AudioBitRate);
        EXPECT_EQ(info.AudioFormat.nSamplesPerSec, c.Rate);
        EXPECT_EQ(info.AudioFormat.nChannels, c.Channels);
        EXPECT_EQ(info.AudioFormat.wFormatTag, c.Tag);
        EXPECT_EQ(info.PixelText, c.Pixel);
    }
    EXPECT_EQ(info.Name + info.Profile, "keep.wmv{keep}");
}

TEST(WMFBase, DescribeProfileLines) {
    std::vector<std::string> lines{"stale"};
    TWMFBase::DescribeProfile(Guid(11), lines);
    EXPECT_THAT(lines,
                ElementsAre("Video:", "  Width:    720 pixels", "  Height:   480 pixels",
                            "  Pixel:    24bit", "  Timebase: 29.97003 frame per second",
                            "  Bit rate: 636 kbps", "", "Audio:", "  Quality:    16 bit Stereo",
                            "  Bit rate:   64 kbps", "  Sample rate:44 kHz", "",
                            "Use this profile for high quality audio/video content intended for "
                            "local playback or download and playback."));
    TWMFBase::DescribeProfile(Guid(20), lines);
    EXPECT_THAT(lines,
                ElementsAre("Video:", "  No Video", "", "Audio:", "  Quality:    16 bit Mono",
                            "  Bit rate:   24 kbps", "  Sample rate:22 kHz", "",
                            "Use this profile for radio and music content (audio only)."));
    TWMFBase::DescribeProfile(Guid(16), lines);
    EXPECT_EQ(lines[8], "  No audio");
}

TEST_F(WMVWriterTest, AudioOnlyProfileWritesWma) {
    const std::string file = Dir.Path + "/sound.wma";
    TWMVWriter w(Ui);
    TWMFInfo info = MakeInfo(file, 24);
    info.AudioFormat = Pcm(11025, 1, 8); // resampled and widened on the way
    ASSERT_TRUE(w.Open(info));
    EXPECT_EQ(w.GetVideoInput(), -1);
    EXPECT_EQ(w.GetAudioInput(), 0);
    std::vector<uint8_t> block(735, 0x80);
    for (int i = 0; i < 15; ++i) {
        block[0] = uint8_t(0x80 + i); // something other than silence
        ASSERT_TRUE(w.WriteAudio(block.data(), uint32_t(block.size())));
        ASSERT_TRUE(w.WriteVideoFrame()); // nothing to write, nothing read
    }
    ASSERT_TRUE(w.Close());
    const TProbedFile p = ProbeMedia(file, true);
    ASSERT_TRUE(p.Opened);
    ASSERT_EQ(p.Streams.size(), 1u);
    EXPECT_EQ(p.Streams[0].CodecId, int(AV_CODEC_ID_WMAV2));
    EXPECT_EQ(p.Streams[0].SampleRate, 44100);
    EXPECT_EQ(p.Streams[0].Channels, 2);
    EXPECT_EQ(p.Streams[0].BitRate, 64000);
    EXPECT_EQ(p.Streams[0].DecodeErrors, 0);
    EXPECT_NEAR(p.Duration, 1.0, 1.0 / 15 + 1e-3);
}

// Each profile gives its own streams and sizes. Picture n shows at n frames; the sound starts
// at 0 too, behind the packet that holds only the encoder's start-up (1024 samples before 0).
// An export with sound off never hands the writer sound, and every picture still gets in at its
// place.
TEST_F(WMVWriterTest, ProfilesGiveTheirStreamsAndEveryPictureItsPlace) {
    const struct {
        int32_t Profile;
        Extended Fps;
        bool Sound;
        int Width, Height, AudioRate;
        int64_t AudioBitRate; // 0: no sound stream
    } rows[] = {{15, 15, true, 160, 120, 0, 0},
                {14, 25, false, 720, 576, 44100, 64000},
                {5, 15, true, 160, 120, 22050, 24000}};
    constexpr int Frames = 15;
    for (const auto& c : rows) {
        SCOPED_TRACE(c.Profile);
        const std::string file = Dir.Path + "/p" + std::to_string(c.Profile) + ".wmv";
        TWMVWriter w(Ui);
        TWMFInfo info = MakeInfo(file, c.Profile, c.Fps);
        if (!c.AudioBitRate)
            info.AudioFormat.wFormatTag = 2; // no sound stream, so the format does not matter
        ASSERT_TRUE(w.Open(info));
        EXPECT_EQ(w.GetFrameDuration(), c.Fps == 15 ? 666667 : 400000);
        EXPECT_EQ(w.GetAudioInput(), c.AudioBitRate ? 0 : -1);
        EXPECT_EQ(w.GetVideoInput(), c.AudioBitRate ? 1 : 0);
        EXPECT_EQ(w.GetFrameCounter(), 0);
        EXPECT_EQ(w.GetBitmap().Width() * 1000 + w.GetBitmap().Height(), 64048); // the project's
        ASSERT_TRUE(WriteFrames(w, Frames, info, c.Sound));
        EXPECT_EQ(w.GetFrameCounter(), Frames);
        ASSERT_TRUE(w.Close());
        EXPECT_FALSE(w.IsOpen());

        const TProbedFile p = ProbeMedia(file, true);
        EXPECT_EQ(p.FormatName, "asf");
        ASSERT_EQ(p.Streams.size(), c.AudioBitRate ? 2u : 1u);
        const TProbedStream* v = p.FirstOf(true);
        EXPECT_EQ(v->CodecId, int(AV_CODEC_ID_WMV2));
        EXPECT_EQ(v->Width * 1000 + v->Height, c.Width * 1000 + c.Height);
        EXPECT_EQ(v->DecodedFrames, Frames);
        EXPECT_EQ(v->DecodeErrors, 0);
        const double frame = 1 / double(c.Fps);
        const int startUp = c.AudioRate == 44100 ? 2048 : 1024;
        const double before = c.AudioBitRate ? double(startUp) / c.AudioRate : 0;
        EXPECT_NEAR(p.Duration, before + Frames * frame, frame + 1e-3);
        ASSERT_EQ(v->PacketTimes.size(), size_t(Frames));
        for (int i = 0; i < Frames; ++i)
            EXPECT_NEAR(v->PacketTimes[size_t(i)], i * frame, 1e-3) << i;
        if (!c.AudioBitRate)
            continue;
        const TProbedStream* a = p.FirstOf(false);
        EXPECT_EQ(a->CodecId, int(AV_CODEC_ID_WMAV2));
        EXPECT_EQ(a->BitRate, c.AudioBitRate);
        EXPECT_EQ(a->SampleRate * 10 + a->Channels, c.AudioRate * 10 + 2);
        EXPECT_EQ(a->DecodeErrors, 0);
        EXPECT_NEAR(a->PacketTimes[0], -before, 1e-3);
        // One frame of sound per picture and the start-up, in 1024-sample packets; without
        // sound, the start-up alone.
        const size_t packets = c.Sound ? size_t((Frames * 1470 + startUp + 1023) / 1024) : 1;
        ASSERT_EQ(a->PacketTimes.size(), packets);
        if (c.Sound) {
            EXPECT_EQ(a->PacketTimes[1], 0);
        }
    }
}

// A 25 fps project into a 30 fps profile: the file holds the profile's rate, one picture every
// 1/30 s from 0, and lasts as long as the project's frames.
TEST_F(WMVWriterTest, FileHoldsTheProfilesFrameRate) {
    const std::string file = Dir.Path + "/rate.wmv";
    TWMVWriter w(Ui);
    const TWMFInfo info = MakeInfo(file, 7, 25); // LAN 100 kbps: 30 fps
    ASSERT_TRUE(w.Open(info));
    EXPECT_EQ(w.GetFrameDuration(), 400000);
    ASSERT_TRUE(WriteFrames(w, 50, info));
    ASSERT_TRUE(w.Close());

    const TProbedFile p = ProbeMedia(file, true);
    const TProbedStream* v = p.FirstOf(true);
    ASSERT_NE(v, nullptr);
    EXPECT_NEAR(v->FrameRate, 30, 0.01);
    const int64_t slot = 333333;
    ASSERT_EQ(v->PacketTimes.size(), 60u); // 2 s, not a frame more
    EXPECT_EQ(v->DecodedFrames, int(v->PacketTimes.size()));
    for (size_t i = 0; i < v->PacketTimes.size(); ++i)
        ASSERT_NEAR(v->PacketTimes[i], double(i) * slot / 1e7, 1e-3) << i;
    // From the sound encoder's start-up, 2048 samples before 0.
    EXPECT_NEAR(p.Duration, 2048.0 / 44100 + 50.0 / 25, 1.0 / 25 + 1e-3);
}

// Project frames 25, 50 and 75 of a 25 fps project are at 1, 2 and 3 s, where file frames 30, 60
// and 90 of a 30 fps profile are: each file frame shows the project frame its time falls in, and
// 4 s of project give 120 file frames. The NTSC rates are the exact 24000/1001 and 30000/1001,
// however the project writes them. Every project frame draws its number in binary, one black or
// white stripe per bit, so each decoded file frame says which project frame it shows.
TEST_F(WMVWriterTest, EachFileFrameShowsTheProjectFrameItsTimeFallsIn) {
    const struct {
        int32_t Profile;
        Extended Fps;
        int64_t InNum, InDen, OutNum, OutDen; // project and file rates as exact fractions
        int Frames, FileFrames;
    } rows[] = {{8, 25, 25, 1, 30, 1, 100, 120},                 // LAN 256: 30 fps
                {11, 23.976L, 24000, 1001, 30000, 1001, 48, 60}, // NTSC 700: 29.97 fps
                {0, 24, 24, 1, 15, 1, 96, 60}};                  // Pocket PC 225: 15 fps
    constexpr int Bits = 8, Stripe = 8;
    for (const auto& c : rows) {
        SCOPED_TRACE(c.Profile);
        const std::string file = Dir.Path + "/map" + std::to_string(c.Profile) + ".wmv";
        TWMVWriter w(Ui);
        const TWMFInfo info = MakeInfo(file, c.Profile, c.Fps);
        ASSERT_TRUE(w.Open(info));
        // The file's clock ticks at the profile's exact rate, never a frame rounded to 100 ns.
        int32_t num = 0, den = 0;
        ASSERT_TRUE(w.GetVideoTimeBase(num, den));
        EXPECT_EQ(std::pair(int64_t(num), int64_t(den)), std::pair(c.OutDen, c.OutNum));
        std::vector<uint8_t> block(size_t(Round(22050 / c.Fps)) * 2);
        for (int n = 0; n < c.Frames; ++n) {
            TCanvas& canvas = w.GetBitmap().Canvas();
            for (int b = 0; b < Bits; ++b) {
                canvas.Brush.Color = (n >> (Bits - 1 - b) & 1) ? 0xFFFFFF : 0x000000;
                canvas.FillRect(Rect(b * Stripe, 0, (b + 1) * Stripe, 48));
            }
            ASSERT_TRUE(w.WriteAudio(block.data(), uint32_t(block.size())));
            ASSERT_TRUE(w.WriteVideoFrame());
        }
        ASSERT_TRUE(w.Close());

        const TProbedFile p = ProbeMedia(file, true);
        const TProbedStream* v = p.FirstOf(true);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->Pictures.size(), size_t(c.FileFrames));
        const int stripe = v->Width / Bits;
        const size_t row = size_t(v->Height / 2) * size_t(v->Width) * 3;
        for (int k = 0; k < std::min(c.FileFrames, int(v->Pictures.size())); ++k) {
            int shown = 0;
            for (int b = 0; b < Bits; ++b) {
                const size_t x = size_t(b * stripe + stripe / 2);
                shown = shown * 2 + (v->Pictures[size_t(k)][row + x * 3 + 1] > 128 ? 1 : 0);
            }
            EXPECT_EQ(shown, k * c.InNum * c.OutDen / (c.InDen * c.OutNum)) << "file frame " << k;
        }
    }
}

// Frame n is stamped n / rate, and its sound plays with it: a 30 fps project whose picture turns
// white and whose sound starts at frame 20 shows both at 0.667 s, within a frame of each other.
TEST_F(WMVWriterTest, PictureAndSoundOfAFrameStartTogether) {
    const std::string file = Dir.Path + "/sync.wmv";
    TWMVWriter w(Ui);
    TWMFInfo info = MakeInfo(file, 9, 30); // LAN 384 kbps: 320 x 240 at 30 fps
    info.AudioFormat = Pcm(44100, 2, 16);
    ASSERT_TRUE(w.Open(info));
    constexpr int Frames = 40, Onset = 20;
    std::vector<int16_t> block(1470 * 2);
    for (int n = 0; n < Frames; ++n) {
        for (size_t k = 0; k < block.size(); ++k)
            block[k] = n < Onset ? 0 : int16_t(k / 2 % 40 < 20 ? 12000 : -12000);
        w.GetBitmap().Canvas().Brush.Color = n < Onset ? 0x000000 : 0xFFFFFF;
        w.GetBitmap().Canvas().FillRect(Rect(0, 0, 64, 48));
        ASSERT_TRUE(w.WriteAudio(block.data(), uint32_t(block.size() * 2)));
        ASSERT_TRUE(w.WriteVideoFrame());
    }
    ASSERT_TRUE(w.Close());

    const TProbedFile p = ProbeMedia(file, true);
    const TProbedStream* v = p.FirstOf(true);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->PacketTimes.size(), size_t(Frames));
    for (int n = 0; n < Frames; ++n)
        EXPECT_NEAR(v->PacketTimes[size_t(n)], n / 30.0, 1e-3) << n; // ASF times are in ms
    ASSERT_EQ(v->Pictures.size(), size_t(Frames));
    const size_t middle = 120 * 320 * 3 + 160 * 3;
    EXPECT_LT(v->Pictures[Onset - 1][middle], 40);
    EXPECT_GT(v->Pictures[Onset][middle], 215);
    const TProbedStream* a = p.FirstOf(false);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->PacketTimes[1], 0);
    EXPECT_NEAR(SoundOnset(file, 0.1f), Onset / 30.0, 1 / 30.0);
}

// A picture that cannot be written is dropped and the export goes on; sixteen in a row are
// borne, a whole frame ends the run, and the seventeenth in a row ends the export.
TEST_F(WMVWriterTest, FailedSamplesAreBorneUpToSixteenInARow) {
    const std::string file = Dir.Path + "/drop.wmv";
    TWMVWriter w(Ui);
    TWMFInfo info = MakeInfo(file, 15, 15); // pictures only
    info.AudioFormat.wFormatTag = 2;
    ASSERT_TRUE(w.Open(info));
    // A canvas left at another size cannot be encoded.
    auto frame = [&w](bool whole) {
        w.GetBitmap().SetSize(whole ? 64 : 32, 48);
        return w.WriteVideoFrame();
    };
    ASSERT_TRUE(frame(true));
    for (int i = 0; i < TWMVWriter::MaxFailedSamples; ++i)
        ASSERT_TRUE(frame(false)) << i;
    ASSERT_TRUE(frame(true));
    for (int i = 0; i < TWMVWriter::MaxFailedSamples; ++i)
        ASSERT_TRUE(frame(false)) << i;
    EXPECT_EQ(w.GetFrameCounter(), 34);
    EXPECT_FALSE(frame(false));
    EXPECT_EQ(w.GetFrameCounter(), 34);
    EXPECT_FALSE(frame(true)); // it stays ended
    EXPECT_FALSE(w.Close());
}

TEST_F(WMVWriterTest, EmptyProfileKeepsTheCurrentOne) {
    TWMVWriter w(Ui);
    EXPECT_EQ(w.GetProfile(), Guid(14));
    TWMFInfo info = MakeInfo(Dir.Path + "/a.wma", 20);
    ASSERT_TRUE(w.Open(info));
    ASSERT_TRUE(w.Close());
    info = MakeInfo(Dir.Path + "/b.wma", 0);
    info.Profile.clear();
    ASSERT_TRUE(w.Open(info));
    EXPECT_EQ(w.GetProfile(), Guid(20));
    EXPECT_EQ(w.GetVideoInput(), -1);
    ASSERT_TRUE(w.Close());
    EXPECT_FALSE(w.Close()); // nothing open
}

TEST_F(WMVWriterTest, RefusesWhatItCannotWrite) {
    TWMVWriter w(Ui);
    TWMFInfo info = MakeInfo(Dir.Path + "/coded.wmv", 14);
    info.AudioFormat.wFormatTag = 0x55; // compressed project sound
    EXPECT_FALSE(w.Open(info));
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_THAT(Ui.Messages[0], HasSubstr("PCM"));
    EXPECT_FALSE(std::filesystem::exists(info.Name));

    // A name longer than the writer takes is refused whole, never cut.
    const std::string longName = Dir.Path + "/" + std::string(1030, 'n') + ".wmv";
    info = MakeInfo(longName, 14);
    EXPECT_FALSE(w.Open(info));
    ASSERT_EQ(Ui.Messages.size(), 2u);
    EXPECT_THAT(Ui.Messages[1], HasSubstr("file name"));
    info = MakeInfo(Dir.Path + "/bad\xC3(.wmv", 14);
    EXPECT_FALSE(w.Open(info));
    EXPECT_EQ(Ui.Messages.size(), 3u);
    info = MakeInfo("", 14);
    EXPECT_FALSE(w.Open(info));
    EXPECT_EQ(Ui.Messages.size(), 4u);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(w.WriteVideoFrame());

    // A colon is part of the name, not a protocol.
    info = MakeInfo(Dir.Path + "/file:odd.wmv", 14);
    ASSERT_TRUE(w.Open(info));
    ASSERT_TRUE(w.Close());
    EXPECT_TRUE(std::filesystem::exists(info.Name));
}

// A file that cannot be made says why, as the system words it.
TEST_F(WMVWriterTest, CreateFailureNamesTheSystemsReason) {
    const std::string plain = Dir.File("plain", "not a folder");
    const struct {
        std::string Name, Reason;
    } rows[] = {{plain + "/movie.wmv", "Not a directory"},
                {Dir.Path + "/missing/movie.wmv", "No such file or directory"}};
    TWMVWriter w(Ui);
    for (const auto& c : rows) {
        Ui.Messages.clear();
        EXPECT_FALSE(w.Open(MakeInfo(c.Name, 14)));
        EXPECT_FALSE(w.IsOpen());
        EXPECT_THAT(Ui.Messages,
                    ElementsAre("Can not create file " + c.Name + " (" + c.Reason + ")"));
    }
    EXPECT_EQ(std::filesystem::file_size(plain), 12u);
}

TEST_F(WMVWriterTest, ExistingFileGoesToTheTrash) {
    TScratchHome home(Dir.Path);
    const std::string file = Dir.File("old.wmv", "old content");
    TWMVWriter w(Ui);
    TWMFInfo info = MakeInfo(file, 14);
    ASSERT_TRUE(w.Open(info));
    ASSERT_TRUE(w.Close());
    EXPECT_GT(std::filesystem::file_size(file), 100u);
    EXPECT_TRUE(std::filesystem::exists(Dir.Path + "/.local/share/Trash/files/old.wmv"));
    EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(WMVWriterTest, FailedWriteIsNeverSuccess) {
    // An older file at the name survives the failed export whole, with nothing beside it.
    const std::string file = Dir.File("full.wmv", "older movie");
    TFileSizeLimit limit(40000);
    ASSERT_TRUE(limit.Active());
    TWMVWriter w(Ui);
    TWMFInfo info = MakeInfo(file, 12, 25); // NTSC 1400: fills the limit fast
    bool opened = w.Open(info);
    bool wrote = opened && WriteFrames(w, 25, info);
    bool closed = opened && w.Close();
    limit.Lift();
    ASSERT_TRUE(opened);
    EXPECT_FALSE(wrote && closed);
    EXPECT_FALSE(closed);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(std::filesystem::file_size(file), 11u);
    EXPECT_FALSE(std::filesystem::exists(file + ".~part"));
}
