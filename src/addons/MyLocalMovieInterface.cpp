#include "MyLocalMovieInterface.h"

#include <cmath>

#include "MyAVIReader.h"
#include "MyCommonParams.h"
#include "MyTreeNode.h"

TLocalMovieInterface::TLocalMovieInterface(TCustomExtern* owner, IUiServices* ui)
    : Owner(owner), Reader(std::make_unique<TAviReader>(ui)) {}

TLocalMovieInterface::~TLocalMovieInterface() = default;

bool TLocalMovieInterface::IsOpen() const {
    return AddOnPreview.Active || Reader->IsLoaded();
}

Extended TLocalMovieInterface::GetFrameRate() const {
    return Reader->GetFrameRate();
}

int32_t TLocalMovieInterface::GetFrameCount() const {
    return Reader->GetFrameCount();
}

int32_t TLocalMovieInterface::GetCurrentFrame() const {
    return Reader->GetLastDecodedFrame();
}

std::string TLocalMovieInterface::GetFileName() const {
    return CutShortString(Reader->GetFileName());
}

int32_t TLocalMovieInterface::GetWidth() const {
    return AddOnPreview.Active ? AddOnPreview.Width : Reader->GetWidth();
}

int32_t TLocalMovieInterface::GetHeight() const {
    return AddOnPreview.Active ? AddOnPreview.Height : Reader->GetHeight();
}

Extended TLocalMovieInterface::GetDuration() const {
    return Reader->GetDuration();
}

bool TLocalMovieInterface::Open(const std::string& fileName) {
    return Reader->Open(TrimText(fileName));
}

void TLocalMovieInterface::Close() {
    Reader->Close();
}

void TLocalMovieInterface::SetReadAhead(bool on) {
    if (on)
        Reader->BeginReadAhead();
    else
        Reader->EndReadAhead();
}

bool TLocalMovieInterface::GetFrameAt(TBitmap& bitmap, Extended time, Extended) {
    if (AddOnPreview.Active) {
        if (AddOnPreview.Picture && AddOnPreview.Picture != &bitmap)
            bitmap.Canvas().StretchDraw(Rect(0, 0, bitmap.Width(), bitmap.Height()),
                                        *AddOnPreview.Picture);
        return true;
    }
    // Times far outside the movie (or not a number) name no frame; Round would overflow.
    const Extended at = GetFrameRate() * time;
    if (!std::isfinite(at) || at < -1.0L || at > 2147483647.0L)
        return false;
    int32_t index = Round(at);
    // In the movie's last half frame the rounded number runs one past its end, where a reader
    // would paint a blank picture: the last frame is still on screen until the movie ends.
    const int32_t count = GetFrameCount();
    if (count > 0 && index >= count && at < count)
        index = count - 1;
    return Reader->GetFrame(index, bitmap);
}
