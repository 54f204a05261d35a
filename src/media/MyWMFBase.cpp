#include "MyWMFBase.h"
#include "MyCommonParams.h"

#include <cctype>
#include <cstdio>

#include "MyExceptions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// clang-format off
const TWMFProf WMFProfiles[WMFProfileCount] = {
    {1, 'V', "Windows Media Video 8 for Color Pocket PCs (225 Kbps)",
     "Use this profile when creating video files for playback on faster color Pocket PCs.",
     "{FEEDBCDF-3FAC-4C93-AC0D-47941EC72C0B}"},
    {2, 'V', "Windows Media Video 8 for Color Pocket PCs (150 Kbps)",
     "Use this profile when creating video files for playback on most Pocket PCs.",
     "{AEE16DFA-2C14-4A2F-AD3F-A3034031784F}"},
    {3, 'V', "Windows Media Video 8 for Dial-up/ISDN (28.8 to 56 Kbps)",
     "Use this multiple bit rate profile for target audiences with dial-up modems or single-channel ISDN connections (bandwidth is between 28.8 Kbps and 56 Kbps).",
     "{D66920C4-C21F-4EC8-A0B4-95CF2BD57FC4}"},
    {4, 'V', "Windows Media Video 8 for LAN, Cable, or xDSL (100 to 768 Kbps)",
     "Use this multiple bit rate profile for target audiences with dual-channel ISDN, LAN, cable modem, or xDSL connections (bandwidth is between 100 Kbps and 500 Kbps).",
     "{5BDB5A0E-979E-47D3-9596-73B386392A55}"},
    {5, 'V', "Windows Media Video 8 for Dial-up or LAN (28.8 to 100 Kbps)",
     "Use this multiple bit rate profile for target audiences with dial-up modem, LAN, or dual-channel ISDN connections (bandwidth is between 28.8 and 100 Kbps).",
     "{D8722C69-2419-4B36-B4E0-6E17B60564E5}"},
    {6, 'V', "Windows Media Video 8 for Dial-up Modems (28.8 Kbps)",
     "Use this profile for low bit rate audio/video delivery over 28.8 Kbps dial-up connections.",
     "{3DF678D9-1352-4186-BBF8-74F0C19B6AE2}"},
    {7, 'V', "Windows Media Video 8 for Dial-up Modems (56 Kbps)",
     "Use this profile for low bit rate audio/video delivery over 56 Kbps dial-up connections.",
     "{254E8A96-2612-405C-8039-F0BF725CED7D}"},
    {8, 'V', "Windows Media Video 8 for Local Area Network (100 Kbps)",
     "Use this profile for medium bit rate delivery over dual-channel ISDN, LAN, or cable modem connections.",
     "{A2E300B4-C2D4-4FC0-B5DD-ECBD948DC0DF}"},
    {9, 'V', "Windows Media Video 8 for Local Area Network (256 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback.",
     "{BBC75500-33D2-4466-B86B-122B201CC9AE}"},
    {10, 'V', "Windows Media Video 8 for Local Area Network (384 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback.",
     "{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"},
    {11, 'V', "Windows Media Video 8 for Local Area Network (768 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback.",
     "{74D01102-E71A-4820-8F0D-13D2EC1E4872}"},
    {12, 'V', "Windows Media Video 8 for Broadband (NTSC, 700 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or download and playback.",
     "{C8C2985F-E5D9-4538-9E23-9B21BF78F745}"},
    {13, 'V', "Windows Media Video 8 for Broadband (NTSC, 1400 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback.",
     "{931D1BEE-617A-4BCD-9905-CCD0786683EE}"},
    {14, 'V', "Windows Media Video 8 for Broadband (PAL, 384 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback.",
     "{9227C692-AE62-4F72-A7EA-736062D0E21E}"},
    {15, 'V', "Windows Media Video 8 for Broadband (PAL, 700 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback.",
     "{EC298949-639B-45E2-96FD-4AB32D5919C2}"},
    {16, 'V', "Windows Media Video 8 for Dial-up Modem (No audio, 28.8 Kbps)",
     "Use this profile when creating video-only content for target audiences with dial-up modems.",
     "{8C45B4C7-4AEB-4F78-A5EC-88420B9DADEF}"},
    {17, 'V', "Windows Media Video 8 for Dial-up Modem (No audio, 56 Kbps)",
     "Use this profile when creating video-only content for target audiences with dial-up modems.",
     "{6E2A6955-81DF-4943-BA50-68A986A708F6}"},
    {18, 'V', "Windows Media 8 Fair Quality based VBR for Broadband",
     "Fair to high quality based profile for VBR content that is quality constrained.",
     "{3510A862-5850-4886-835F-D78EC6A64042}"},
    {19, 'V', "Windows Media 8 High Quality based VBR for Broadband.",
     "High to best quality based profile for VBR content that is quality constrained.",
     "{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}"},
    {20, 'V', "Windows Media 8 Best Quality based VBR for Broadband.",
     "Best quality based profile for VBR content that is quality constrained.",
     "{048439BA-309C-440E-9CB4-3DCCA3756423}"},
    {21, 'A', "Windows Media Audio 8 for Dial-up Modem (Mono, 28.8 Kbps)",
     "Use this profile for radio and music content (audio only).",
     "{7EA3126D-E1BA-4716-89AF-F65CEE0C0C67}"},
    {22, 'A', "Windows Media Audio 8 for Dial-up Modem (FM Radio Stereo, 28.8 Kbps)",
     "Use this profile for radio and music content (audio only).",
     "{7E4CAB5C-35DC-45BB-A7C0-19B28070D0CC}"},
    {23, 'A', "Windows Media Audio 8 for Dial-up Modem (32 Kbps)",
     "Use this profile for radio and music content (audio only).",
     "{60907F9F-B352-47E5-B210-0EF1F47E9F9D}"},
    {24, 'A', "Windows Media Audio 8 for Dial-up Modem (Near CD quality, 48 Kbps)",
     "Use for radio, music, and general purpose audio content.",
     "{5EE06BE5-492B-480A-8A8F-12F373ECF9D4}"},
    {25, 'A', "Windows Media Audio 8 for Dial-up Modem (CD quality, 64 Kbps)",
     "Use this profile for target audiences with high speed Internet or LAN connections.",
     "{09BB5BC4-3176-457F-8DD6-3CD919123E2D}"},
    {26, 'A', "Windows Media Audio 8 for ISDN (Better than CD quality, 96 Kbps)",
     "Use this profile for target audiences with high speed Internet or LAN connections.",
     "{1FC81930-61F2-436F-9D33-349F2A1C0F10}"},
    {27, 'A', "Windows Media Audio 8 for ISDN (Better than CD quality, 128 Kbps)",
     "Use this profile for target audiences with high speed Internet or LAN connections.",
     "{407B9450-8BDC-4EE5-88B8-6F527BD941F2}"},
};

// Pocket PCs get 208 x 160 at 15 fps, modems 160 x 120 at 15 fps, LAN and broadband 320 x 240 at
// 30 fps, NTSC 720 x 480 at 29.97, PAL 720 x 576 at 25. Sound runs at 22.05 kHz below 48 kbps and
// 44.1 kHz from there on, in stereo unless the name says mono; 24 kbps is the least the encoder
// takes, so the modem profiles give it that and the picture the rest. The video rate is the
// profile's total less the sound.
const TWMFParams WMFParams[WMFProfileCount] = {
    // video bps, width, height, fps, audio Hz, channels, audio bps
    {193000, 208, 160, 15, 22050, 2, 32000},   // Pocket PC 225
    {118000, 208, 160, 15, 22050, 2, 32000},   // Pocket PC 150
    {32000, 160, 120, 15, 22050, 2, 24000},    // dial-up/ISDN 28.8-56: the 56 stream
    {704000, 320, 240, 30, 44100, 2, 64000},   // LAN/cable/xDSL 100-768: the 768 stream
    {68000, 320, 240, 30, 22050, 2, 32000},    // dial-up or LAN 28.8-100: the 100 stream
    {20000, 160, 120, 15, 22050, 2, 24000},    // modem 28.8
    {32000, 160, 120, 15, 22050, 2, 24000},    // modem 56
    {68000, 320, 240, 30, 22050, 2, 32000},    // LAN 100
    {192000, 320, 240, 30, 44100, 2, 64000},   // LAN 256
    {320000, 320, 240, 30, 44100, 2, 64000},   // LAN 384
    {704000, 320, 240, 30, 44100, 2, 64000},   // LAN 768
    {636000, 720, 480, 30000.0L / 1001, 44100, 2, 64000},  // NTSC 700
    {1272000, 720, 480, 30000.0L / 1001, 44100, 2, 128000}, // NTSC 1400
    {320000, 720, 576, 25, 44100, 2, 64000},   // PAL 384
    {636000, 720, 576, 25, 44100, 2, 64000},   // PAL 700
    {28800, 160, 120, 15, 0, 0, 0},            // modem, no audio, 28.8
    {56000, 160, 120, 15, 0, 0, 0},            // modem, no audio, 56
    {500000, 320, 240, 30, 44100, 2, 64000},   // fair quality VBR
    {1000000, 320, 240, 30, 44100, 2, 96000},  // high quality VBR
    {2000000, 320, 240, 30, 44100, 2, 128000}, // best quality VBR
    {0, 0, 0, 0, 22050, 1, 24000},             // audio mono 28.8
    {0, 0, 0, 0, 22050, 2, 24000},             // audio FM stereo 28.8
    {0, 0, 0, 0, 22050, 2, 32000},             // audio 32
    {0, 0, 0, 0, 44100, 2, 48000},             // audio near CD 48
    {0, 0, 0, 0, 44100, 2, 64000},             // audio CD 64
    {0, 0, 0, 0, 44100, 2, 96000},             // audio 96
    {0, 0, 0, 0, 44100, 2, 128000},            // audio 128
};
// clang-format on

namespace {

void CheckIndex(int32_t index) {
    if (index < 0 || index >= WMFProfileCount)
        throw Exception("TWMFBase.GetProfileByIdx: Error Idx is " + std::to_string(index));
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(uint8_t(c)));
    return s;
}

// General number format with 8 significant digits, as the dialog shows frame rates.
std::string GeneralText(Extended x) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%.8Lg", x);
    std::string s = buf;
    for (char& c : s)
        if (c == '.')
            c = GetDecimalSeparator();
    return s;
}

} // namespace

void TWMFBase::FillProfileNames(std::vector<std::string>& strings) {
    strings.clear();
    for (const TWMFProf& p : WMFProfiles)
        strings.push_back(p.Name);
}

int32_t TWMFBase::IndexOfProfile(const std::string& guid) {
    const std::string g = Upper(guid);
    for (int32_t i = 0; i < WMFProfileCount; ++i)
        if (g == WMFProfiles[i].Guid)
            return i;
    return WMFDefaultProfile;
}

void TWMFBase::GetProfileByIdx(int32_t index, std::string& guid) {
    CheckIndex(index);
    guid = WMFProfiles[index].Guid;
}

void TWMFBase::GetProfileDescription(int32_t index, std::string& text) {
    CheckIndex(index);
    text = WMFProfiles[index].Description;
}

const TWMFParams& TWMFBase::GetProfileParams(int32_t index) {
    CheckIndex(index);
    return WMFParams[index];
}

void TWMFBase::GetProfileInfo(const std::string& guid, TWMFInfo& info) {
    info.AudioFormat = TWaveFormatEx{};
    info.Width = 0;
    info.Height = 0;
    info.FrameRate = 0;
    info.VideoBitRate = 0;
    info.AudioBitRate = 0;
    info.PixelText.clear();
    const TWMFParams& p = WMFParams[IndexOfProfile(guid)];
    if (p.AudioRate > 0) {
        TAudioFormat pcm{};
        MakePcmFormat(pcm, uint32_t(p.AudioRate), uint16_t(p.AudioChannels), 16);
        info.AudioFormat = pcm.Wfx;
        info.AudioBitRate = uint32_t(p.AudioBitRate) >> 10; // (bytes/s * 8) >> 10
    }
    if (p.VideoBitRate > 0) {
        info.Width = p.Width;
        info.Height = p.Height;
        info.FrameRate = p.FrameRate;
        info.VideoBitRate = uint32_t(p.VideoBitRate) >> 13;
        info.PixelText = "24bit";
    }
}

void TWMFBase::DescribeProfile(const std::string& guid, std::vector<std::string>& lines) {
    lines.clear();
    TWMFInfo info;
    GetProfileInfo(guid, info);
    const int32_t index = IndexOfProfile(guid);
    const TWMFParams& p = WMFParams[index];
    lines.push_back("Video:");
    if (info.VideoBitRate < 1) {
        lines.push_back("  No Video");
    } else {
        lines.push_back("  Width:    " + std::to_string(info.Width) + " pixels");
        lines.push_back("  Height:   " + std::to_string(info.Height) + " pixels");
        lines.push_back("  Pixel:    " + info.PixelText);
        lines.push_back("  Timebase: " + GeneralText(info.FrameRate) + " frame per second");
        // The info keeps the rate in coarse units; the table has it exactly.
        lines.push_back("  Bit rate: " + std::to_string(Round(Extended(p.VideoBitRate) / 1000)) +
                        " kbps");
    }
    lines.push_back("");
    lines.push_back("Audio:");
    if (info.AudioBitRate < 1) {
        lines.push_back("  No audio");
    } else {
        lines.push_back(std::string("  Quality:    ") +
                        (info.AudioFormat.wBitsPerSample <= 8 ? "8 bit" : "16 bit") +
                        (info.AudioFormat.nChannels < 2 ? " Mono" : " Stereo"));
        lines.push_back("  Bit rate:   " + std::to_string(Round(Extended(p.AudioBitRate) / 1000)) +
                        " kbps");
        lines.push_back("  Sample rate:" + std::to_string(info.AudioFormat.nSamplesPerSec / 1000) +
                        " kHz");
    }
    lines.push_back("");
    lines.push_back(TrimText(WMFProfiles[index].Description));
}

void TWMFBase::GetProfileExtension(const std::string& guid, std::string& ext) {
    ext = WMFProfiles[IndexOfProfile(guid)].Kind == 'A' ? "wma" : "wmv";
}

bool TWMFBase::IsWMVCoreAvailable() {
    return av_guess_format("asf", nullptr, nullptr) && avcodec_find_encoder_by_name("wmv2") &&
           avcodec_find_encoder_by_name("wmav2");
}
