#include "MyWMVWriter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "MyCommonParams.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int64_t HundredNs = 10000000; // sample times count 100 ns units
constexpr int KeyFrameSeconds = 3;      // a key frame at least this often

// UTF-16 units of UTF-8 text; -1 when it is not valid UTF-8 or holds a NUL.
int64_t Utf16Length(const std::string& s) {
    int64_t n = 0;
    for (size_t i = 0; i < s.size();) {
        const uint8_t c = uint8_t(s[i]);
        int len;
        uint32_t cp;
        if (c == 0)
            return -1;
        if (c < 0x80) {
            len = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return -1;
        }
        if (i + size_t(len) > s.size())
            return -1;
        for (int k = 1; k < len; ++k) {
            const uint8_t cc = uint8_t(s[i + size_t(k)]);
            if ((cc & 0xC0) != 0x80)
                return -1;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return -1;
        n += cp >= 0x10000 ? 2 : 1;
        i += size_t(len);
    }
    return n;
}

// A frame rate as an exact fraction. The NTSC rates are 1000/1001 of a whole rate, and a project
// holds them rounded ("29.97", "23.976"): taken as written, 23.976 against the profile's
// 30000/1001 would put the picture of each whole second one file frame late. Other rates are
// the nearest fraction whose terms stay within a million, which is exact for every rate a
// project offers and for a typed one such as 12.5.
AVRational ExactRate(Extended rate) {
    const Extended whole = Extended(Round64(rate * 1001 / 1000));
    if (whole >= 1 && whole <= INT_MAX / 1000 &&
        std::fabs(rate * 1001 / (whole * 1000) - 1) < 1e-5L)
        return AVRational{int(whole) * 1000, 1001};
    return av_d2q(double(rate), 1000000);
}

bool UsablePcm(const TWaveFormatEx& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 8 &&
           f.nSamplesPerSec > 0 && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
           f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

} // namespace

struct TWMVWriter::TStreams {
    AVFormatContext* Fmt = nullptr;
    AVCodecContext* Video = nullptr;
    AVCodecContext* Audio = nullptr;
    AVStream* VideoStream = nullptr;
    AVStream* AudioStream = nullptr;
    SwsContext* Scaler = nullptr;
    SwrContext* Resampler = nullptr;
    AVAudioFifo* Fifo = nullptr;
    AVFrame* Picture = nullptr;
    AVFrame* Sound = nullptr;
    AVPacket* Packet = nullptr;
    int64_t AudioPts = 0;         // of the next frame to encode, in samples
    int64_t Priming = 0;          // samples the encoder puts in front of the sound
    int64_t NextOutput = 0;       // the file's next picture slot, at the profile's rate
    int64_t SoundEnd = INT64_MAX; // time of the end of the sound given, once it is known
    bool HeaderWritten = false;

    ~TStreams() {
        avcodec_free_context(&Video);
        avcodec_free_context(&Audio);
        sws_freeContext(Scaler);
        swr_free(&Resampler);
        if (Fifo)
            av_audio_fifo_free(Fifo);
        av_frame_free(&Picture);
        av_frame_free(&Sound);
        av_packet_free(&Packet);
        if (Fmt) {
            if (Fmt->pb)
                avio_closep(&Fmt->pb);
            avformat_free_context(Fmt);
        }
    }
};

TWMVWriter::TWMVWriter(IUiServices& ui) : Ui(ui), Canvas(320, 240) {
    GetProfileByIdx(WMFDefaultProfile, ProfileGuid);
}

TWMVWriter::~TWMVWriter() = default;

bool TWMVWriter::IsOpen() const {
    return S != nullptr;
}

void TWMVWriter::Release() {
    S.reset();
    // A file that was not completed never takes the place of the one at its name.
    Replacement.reset();
}

bool TWMVWriter::Refuse(const std::string& text) {
    Ui.ShowMessage(text, TMsgKind::Error);
    Release();
    return false;
}

bool TWMVWriter::SampleFailed() {
    FrameFailed = true;
    if (++FailureCount > MaxFailedSamples)
        Failed = true;
    return !Failed;
}

bool TWMVWriter::Open(const TWMFInfo& info) {
    if (!TakeOpenSettings(info))
        return false;
    const TWMFParams& p = WMFParams[IndexOfProfile(ProfileGuid)];
    S = std::make_unique<TStreams>();
    if (avformat_alloc_output_context2(&S->Fmt, nullptr, "asf", nullptr) < 0 || !S->Fmt ||
        !(S->Packet = av_packet_alloc()) || (AudioInput >= 0 && !OpenAudioEncoder(info, p)) ||
        (VideoInput >= 0 && !OpenVideoEncoder(info, p))) {
        Release();
        return false;
    }
    // The sound encoder's first packet holds only its start-up and lies before time 0, so that
    // the sound of frame n plays at n / rate together with its picture. Shifting every stream
    // to make that time 0 would put all pictures late; the file's preroll holds it as it is.
    S->Fmt->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    // "file:" keeps a name with a colon from being read as a protocol.
    Replacement = std::make_unique<TFileReplacement>(info.Name);
    const int opened =
        avio_open(&S->Fmt->pb, ("file:" + Replacement->TempName()).c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(opened, reason, sizeof reason);
        return Refuse("Can not create file " + info.Name + " (" + reason + ")");
    }
    if (avformat_write_header(S->Fmt, nullptr) < 0) {
        Release();
        return false;
    }
    S->HeaderWritten = true;
    return true;
}

bool TWMVWriter::TakeOpenSettings(const TWMFInfo& info) {
    Release();
    Info = info;
    FrameCounter = 0;
    FailureCount = 0;
    FrameFailed = false;
    Failed = false;
    AudioInput = VideoInput = -1;
    if (!info.Profile.empty())
        ProfileGuid = info.Profile;
    const TWMFParams& p = WMFParams[IndexOfProfile(ProfileGuid)];
    if (!(info.FrameRate > 0) || !std::isfinite(double(info.FrameRate)))
        return false;
    FrameDuration = Round64(Extended(HundredNs) / info.FrameRate);
    if (FrameDuration < 1 || FrameDuration > INT_MAX)
        return false;
    // The file's rate and the file frames per project frame, both exact: rounding the frame
    // lengths to 100 ns would tip a file frame that starts with a project frame into the one
    // before, and let the file's clock drift from its frames (3.6 ms an hour at 29.97 fps).
    const AVRational in = ExactRate(info.FrameRate);
    const AVRational out = p.FrameRate > 0 ? ExactRate(p.FrameRate) : in;
    if (in.num <= 0 || out.num <= 0)
        return false;
    OutputRate = {out.num, out.den};
    SlotsNum = int64_t(out.num) * in.den;
    SlotsDen = int64_t(out.den) * in.num;
    const int64_t common = std::gcd(SlotsNum, SlotsDen);
    SlotsNum /= common;
    SlotsDen /= common;
    if (p.AudioRate > 0)
        AudioInput = 0;
    // The project renders at its own size even when only the sound is written.
    if (info.Width > 0 && info.Height > 0)
        Canvas.SetSize(info.Width, info.Height);
    if (p.VideoBitRate > 0) {
        VideoInput = AudioInput + 1;
        if (info.Width <= 0 || info.Height <= 0)
            return false;
    }

    if (AudioInput >= 0 && !UsablePcm(info.AudioFormat))
        return Refuse("Windows Media output takes PCM sound (8 or 16 bits) only. "
                      "Choose PCM as the project's audio format.");
    const int64_t nameLength = Utf16Length(info.Name);
    if (nameLength <= 0 || nameLength > MaxFileNameChars)
        return Refuse("The file name can not be used for Windows Media output (at most " +
                      std::to_string(MaxFileNameChars) + " characters): " + info.Name);
    if (FileExists(info.Name) && IsFileInUse(info.Name))
        return Refuse("Can not overwrite file " + info.Name);
    return true;
}

bool TWMVWriter::OpenAudioEncoder(const TWMFInfo& info, const TWMFParams& p) {
    const AVCodec* codec = avcodec_find_encoder_by_name("wmav2");
    if (!codec || !(S->Audio = avcodec_alloc_context3(codec)))
        return false;
    AVCodecContext* a = S->Audio;
    a->sample_rate = p.AudioRate;
    av_channel_layout_default(&a->ch_layout, p.AudioChannels);
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    a->bit_rate = p.AudioBitRate;
    a->time_base = AVRational{1, p.AudioRate};
    if (S->Fmt->oformat->flags & AVFMT_GLOBALHEADER)
        a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, info.AudioFormat.nChannels);
    const AVSampleFormat inFormat =
        info.AudioFormat.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    const int r =
        swr_alloc_set_opts2(&S->Resampler, &a->ch_layout, a->sample_fmt, a->sample_rate, &inLayout,
                            inFormat, int(info.AudioFormat.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (avcodec_open2(a, codec, nullptr) < 0 || r < 0 || swr_init(S->Resampler) < 0 ||
        !(S->Fifo = av_audio_fifo_alloc(a->sample_fmt, a->ch_layout.nb_channels, a->frame_size)) ||
        !(S->Sound = av_frame_alloc()) ||
        !(S->AudioStream = avformat_new_stream(S->Fmt, nullptr)) ||
        avcodec_parameters_from_context(S->AudioStream->codecpar, a) < 0)
        return false;
    S->AudioStream->time_base = a->time_base;
    // The encoder stamps each packet this many samples before the sound it was given, since a
    // packet decodes to the sound of the one before it.
    S->Priming = std::max(0, a->initial_padding);
    return true;
}

bool TWMVWriter::OpenVideoEncoder(const TWMFInfo& info, const TWMFParams& p) {
    const AVCodec* codec = avcodec_find_encoder_by_name("wmv2");
    if (!codec || !(S->Video = avcodec_alloc_context3(codec)))
        return false;
    AVCodecContext* v = S->Video;
    v->width = p.Width;
    v->height = p.Height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->bit_rate = p.VideoBitRate;
    v->framerate = AVRational{OutputRate.Num, OutputRate.Den};
    v->time_base = av_inv_q(v->framerate);
    v->max_b_frames = 0;
    v->gop_size = std::max(1, int(Round(p.FrameRate * KeyFrameSeconds)));
    if (S->Fmt->oformat->flags & AVFMT_GLOBALHEADER)
        v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    S->Scaler = sws_getContext(info.Width, info.Height, AV_PIX_FMT_BGR24, p.Width, p.Height,
                               AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    S->Picture = av_frame_alloc();
    if (!S->Scaler || !S->Picture || avcodec_open2(v, codec, nullptr) < 0)
        return false;
    S->Picture->format = v->pix_fmt;
    S->Picture->width = v->width;
    S->Picture->height = v->height;
    if (av_frame_get_buffer(S->Picture, 0) < 0 ||
        !(S->VideoStream = avformat_new_stream(S->Fmt, nullptr)) ||
        avcodec_parameters_from_context(S->VideoStream->codecpar, v) < 0)
        return false;
    S->VideoStream->time_base = v->time_base;
    S->VideoStream->avg_frame_rate = v->framerate;
    return true;
}

bool TWMVWriter::GetVideoTimeBase(int32_t& num, int32_t& den) const {
    if (!S || !S->Video)
        return false;
    num = S->Video->time_base.num;
    den = S->Video->time_base.den;
    return true;
}

bool TWMVWriter::WriteAudio(const void* buffer, uint32_t size) {
    if (!S || Failed)
        return false;
    if (AudioInput < 0)
        return true;
    const uint32_t frames = size / Info.AudioFormat.nBlockAlign;
    if (frames == 0)
        return true;
    if (frames > INT_MAX || !PushSound(static_cast<const uint8_t*>(buffer), int32_t(frames)))
        return SampleFailed();
    return true;
}

bool TWMVWriter::PushSound(const uint8_t* data, int32_t sampleFrames) {
    const int outMax = swr_get_out_samples(S->Resampler, sampleFrames);
    if (outMax < 0)
        return false;
    uint8_t** out = nullptr;
    const int channels = S->Audio->ch_layout.nb_channels;
    if (av_samples_alloc_array_and_samples(&out, nullptr, channels, std::max(outMax, 1),
                                           S->Audio->sample_fmt, 0) < 0)
        return false;
    const uint8_t* in[1] = {data};
    const int got = swr_convert(S->Resampler, out, outMax, data ? in : nullptr, sampleFrames);
    const bool ok =
        got >= 0 && av_audio_fifo_write(S->Fifo, reinterpret_cast<void**>(out), got) == got;
    av_freep(&out[0]);
    av_freep(&out);
    if (!ok)
        return false;
    return EncodeSound(false);
}

bool TWMVWriter::PushSilence(int64_t samples) {
    if (samples <= 0)
        return true;
    if (samples > INT_MAX)
        return false;
    uint8_t** out = nullptr;
    const int channels = S->Audio->ch_layout.nb_channels;
    if (av_samples_alloc_array_and_samples(&out, nullptr, channels, int(samples),
                                           S->Audio->sample_fmt, 0) < 0)
        return false;
    av_samples_set_silence(out, 0, int(samples), channels, S->Audio->sample_fmt);
    const bool ok =
        av_audio_fifo_write(S->Fifo, reinterpret_cast<void**>(out), int(samples)) == int(samples);
    av_freep(&out[0]);
    av_freep(&out);
    return ok && EncodeSound(false);
}

bool TWMVWriter::EncodeSound(bool flush) {
    const int frameSize = S->Audio->frame_size;
    while (av_audio_fifo_size(S->Fifo) >= frameSize || (flush && av_audio_fifo_size(S->Fifo) > 0)) {
        if (!WriteAudioFrame(std::min(frameSize, av_audio_fifo_size(S->Fifo))))
            return false;
    }
    return true;
}

bool TWMVWriter::WriteAudioFrame(int32_t samples) {
    AVFrame* f = S->Sound;
    av_frame_unref(f);
    f->nb_samples = samples;
    f->format = S->Audio->sample_fmt;
    f->sample_rate = S->Audio->sample_rate;
    if (av_channel_layout_copy(&f->ch_layout, &S->Audio->ch_layout) < 0 ||
        av_frame_get_buffer(f, 0) < 0 ||
        av_audio_fifo_read(S->Fifo, reinterpret_cast<void**>(f->data), samples) != samples)
        return false;
    f->pts = S->AudioPts;
    S->AudioPts += samples;
    if (avcodec_send_frame(S->Audio, f) < 0)
        return false;
    return Drain(0);
}

// Moves every packet the encoder has ready into the file. which: 0 sound, 1 picture.
bool TWMVWriter::Drain(int which) {
    AVCodecContext* c = which == 0 ? S->Audio : S->Video;
    AVStream* st = which == 0 ? S->AudioStream : S->VideoStream;
    for (;;) {
        const int r = avcodec_receive_packet(c, S->Packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0)
            return false;
        if (which == 1 && S->Packet->duration == 0)
            S->Packet->duration = 1;
        if (which == 0) {
            // The last frame is padded to the encoder's frame size; the stream ends with the
            // sound actually given.
            const int64_t end = S->SoundEnd;
            if (S->Packet->pts != AV_NOPTS_VALUE && S->Packet->pts + S->Packet->duration > end)
                S->Packet->duration = std::max<int64_t>(0, end - S->Packet->pts);
        }
        av_packet_rescale_ts(S->Packet, c->time_base, st->time_base);
        S->Packet->stream_index = st->index;
        if (av_interleaved_write_frame(S->Fmt, S->Packet) < 0)
            return false;
    }
}

bool TWMVWriter::WriteVideoFrame() {
    if (!S || Failed)
        return false;
    if (VideoInput >= 0 && !EncodePicture() && !SampleFailed())
        return false;
    // A frame whose samples all reached the file ends a run of failures.
    if (!FrameFailed)
        FailureCount = 0;
    FrameFailed = false;
    if (VideoInput >= 0)
        ++FrameCounter;
    return true;
}

bool TWMVWriter::EncodePicture() {
    // The project may have left the canvas at another size; the scaler reads the size it knows.
    if (Canvas.Width() != Info.Width || Canvas.Height() != Info.Height)
        return false;
    AVFrame* pic = S->Picture;
    if (av_frame_make_writable(pic) < 0)
        return false;
    const uint8_t* src[4] = {Canvas.Bits(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {Canvas.RowBytes(), 0, 0, 0};
    sws_scale(S->Scaler, src, srcStride, 0, Canvas.Height(), pic->data, pic->linesize);
    // The file's frames whose time falls in this picture's show it, so the file keeps the
    // profile's rate whatever the project's and ends where the pictures do.
    const int64_t last = av_rescale_rnd(int64_t(FrameCounter) + 1, SlotsNum, SlotsDen, AV_ROUND_UP);
    for (int64_t slot = S->NextOutput; slot < last; ++slot) {
        pic->pts = slot;
        if (avcodec_send_frame(S->Video, pic) < 0 || !Drain(1))
            return false;
    }
    S->NextOutput = std::max(S->NextOutput, last);
    return true;
}

bool TWMVWriter::Close() {
    if (!S)
        return false;
    bool ok = !Failed;
    if (ok && S->Audio) {
        // What the resampler holds back; then as much silence as the encoder's start-up, since
        // each packet carries the sound of the frame before it; then the last short frame.
        ok = PushSound(nullptr, 0);
        if (ok) {
            S->SoundEnd = S->AudioPts + av_audio_fifo_size(S->Fifo);
            ok = PushSilence(S->Priming) && EncodeSound(true) &&
                 avcodec_send_frame(S->Audio, nullptr) >= 0 && Drain(0);
        }
    }
    if (ok && S->Video)
        ok = avcodec_send_frame(S->Video, nullptr) >= 0 && Drain(1);
    if (S->HeaderWritten)
        ok = av_write_trailer(S->Fmt) >= 0 && ok;
    if (S->Fmt->pb) {
        avio_flush(S->Fmt->pb);
        ok = S->Fmt->pb->error >= 0 && ok;
        ok = avio_closep(&S->Fmt->pb) >= 0 && ok;
    }
    // Only a complete file replaces the old one, which goes to the trash where there is one.
    if (ok && FileExists(Info.Name))
        RecycleFile(Info.Name);
    if (ok && !Replacement->Commit()) {
        Ui.ShowMessage("Can not create file " + Info.Name + " (" + Replacement->ErrorText() + ")",
                       TMsgKind::Error);
        ok = false;
    }
    Release();
    return ok;
}
