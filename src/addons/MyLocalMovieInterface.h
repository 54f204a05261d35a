// The movie interface over a movie file on this machine, read through our own AVI reader. While
// the add-on preview runs it stands for a movie the size of the preview and shows the preview
// picture, so movie effects can be previewed without a file.
#pragma once

#include <memory>

#include "MyMovieInterface.h"

class IUiServices;
class TAviReader;
class TCustomExtern;

class TLocalMovieInterface : public TMovieInterface {
public:
    // ui receives the reader's message when a movie cannot be opened; it may be null.
    explicit TLocalMovieInterface(TCustomExtern* owner, IUiServices* ui = nullptr);
    ~TLocalMovieInterface() override;

    // The add-on that asked for the interface; kept for reference only.
    TCustomExtern* Owner;
    std::unique_ptr<TAviReader> Reader;

    bool IsOpen() const override;
    Extended GetFrameRate() const override;
    int32_t GetFrameCount() const override;
    int32_t GetCurrentFrame() const override;
    std::string GetFileName() const override;
    int32_t GetWidth() const override;
    int32_t GetHeight() const override;
    Extended GetDuration() const override;

    // Blanks and control characters around the name are ignored.
    bool Open(const std::string& fileName) override;
    void Close() override;
    // The frame at Round(frame rate x time), half to even, kept on the last frame until the
    // movie's end. The caller's fps is not used.
    bool GetFrameAt(TBitmap& bitmap, Extended time, Extended fps) override;
    // Decoding ahead for a run of renders, as movie clips do; the pictures stay the same.
    void SetReadAhead(bool on);
};
