#include "MyClipNode.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "IUiServices.h"
#include "MyPictureLoader.h"
#include "MyProjNode.h"
#include "MyValueStream.h"

TClipNode::TClipNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item), FLoader(std::make_unique<TPictureLoader>()) {
    Kind = nkClip;
    // A new clip lasts as long as its pictures at its rate (1 s while it has no rate), so the
    // length the property page shows is the one it plays.
    AutoDuration = true;
    UserDuration = 1.0L;
}

TClipNode::~TClipNode() = default;

namespace {

bool LessNoCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // names differing only in case keep one fixed order
}

} // namespace

void TClipNode::SetFolder(const std::string& folder) {
    Folder = folder;
    FPictures.clear();
    FCache = TPictureCache{};
    FToldUnreadable.clear();
    std::string path;
    NormalizeFolderPath(folder, path);
    if (path.empty())
        return;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc))
            continue;
        std::string name = it->path().filename().string();
        if (PictureKindOf(name) != TPictureKind::None)
            FPictures.push_back(std::move(name));
    }
    // Directory listings come in no fixed order on Linux (it depends on the file system and on
    // the history of the folder), so the play order is the names' order.
    std::sort(FPictures.begin(), FPictures.end(), LessNoCase);
    // The track reads durations before it lays its clips out; keep this one current.
    NaturalDuration = GetNaturalDuration();
}

std::string TClipNode::PicturePath(int32_t index) const {
    std::string path;
    NormalizeFolderPath(Folder, path);
    return path + FPictures[static_cast<size_t>(index)];
}

int32_t TClipNode::GetPictureIndex(Extended t) {
    // The clip's first visible instant shows its first picture (also under an incoming
    // transition, which overlaps the clip's start rather than pushing it back).
    const Extended in = ClipRange.FromStart ? 0 : ClipRange.InTime;
    Extended s = t - GetStartTime() + in;
    if (!(s > 0))
        s = 0;
    const int32_t last = GetPictureCount() - 1;
    if (last < 0)
        return 0;
    const Extended pos = s * ClipRate;
    if (!(pos > 0))
        return 0;
    if (!(pos < Extended(last)))
        return last;
    return std::clamp(Round(pos), 0, last);
}

Extended TClipNode::GetNaturalDuration() {
    // A rate below 0 can only come from a damaged file; it counts as unset.
    if (!(ClipRate > 0))
        return 1.0L;
    return GetPictureCount() / ClipRate;
}

void TClipNode::SetSourceFrameRate(Extended rate) {
    if (rate > 0) {
        ClipRate = rate;
        NaturalDuration = GetNaturalDuration();
    }
}

bool TClipNode::FirstPictureSize(int32_t& width, int32_t& height) {
    if (FPictures.empty())
        return false;
    return FLoader->ReadSize(PicturePath(0), width, height);
}

int32_t TClipNode::GetSourceWidth() {
    int32_t w = 0, h = 0;
    return FirstPictureSize(w, h) ? w : TMasterNode::GetSourceWidth();
}

int32_t TClipNode::GetSourceHeight() {
    int32_t w = 0, h = 0;
    return FirstPictureSize(w, h) ? h : TMasterNode::GetSourceHeight();
}

const TBitmap* TClipNode::GetPicture(const std::string& path, int32_t fitWidth, int32_t fitHeight) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    TPictureCache& c = FCache;
    if (c.Filled && c.Path == path && c.FileSize == int64_t(st.st_size) &&
        c.Changed.tv_sec == st.st_mtim.tv_sec && c.Changed.tv_nsec == st.st_mtim.tv_nsec &&
        c.FitWidth == fitWidth && c.FitHeight == fitHeight)
        return c.Ok ? &c.Picture : nullptr;
    c.Path = path;
    c.FileSize = int64_t(st.st_size);
    c.Changed = st.st_mtim;
    c.FitWidth = fitWidth;
    c.FitHeight = fitHeight;
    c.Filled = true;
    c.Ok = false;
    // A picture that can not be read is a black frame, never an error out of the render.
    try {
        FLoader->LoadFromFile(path, c.Picture, fitWidth, fitHeight);
        c.Ok = !c.Picture.Empty();
    } catch (const Exception& e) {
        c.Picture.SetSize(0, 0);
        TellUnreadable(path, ReadErrorText(e));
    } catch (const std::exception& e) {
        c.Picture.SetSize(0, 0);
        TellUnreadable(path, e.what());
    }
    return c.Ok ? &c.Picture : nullptr;
}

void TClipNode::TellUnreadable(const std::string& path, const std::string& why) {
    IUiServices* ui = Project ? Project->Ui : nullptr;
    if (!ui || !FToldUnreadable.insert(path).second)
        return;
    const std::string text =
        "The picture " + path + " cannot be read (" + why + "); its frames are black.";
    // Said once the frame is done: a message box inside a render would run the loops' events
    // under it.
    ui->PostToGui([ui, text] { ui->ShowMessage(text, TMsgKind::Warning); });
}

bool TClipNode::DrawPicture(TBitmap* bitmap, Extended t) {
    if (FPictures.empty() || !bitmap || bitmap->Empty())
        return false;
    const TBitmap* picture =
        GetPicture(PicturePath(GetPictureIndex(t)), bitmap->Width(), bitmap->Height());
    if (!picture) {
        FillBitmap(bitmap, 0);
        return false;
    }
    bitmap->Canvas().StretchDraw(Rect(0, 0, bitmap->Width(), bitmap->Height()), *picture);
    return true;
}

bool TClipNode::PrepareFrame(TBitmap* bitmap, Extended t) {
    if (FPictures.empty())
        return false;
    if (DrawPicture(bitmap, t) && TMasterNode::PrepareFrame(bitmap, t))
        return true;
    FillBitmap(bitmap, 0);
    return false;
}

bool TClipNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    if (AudioHandler && wantAudio) {
        TFrameSilence silence;
        if (BuildFrameSilence(*this, silence))
            HandFrameSilence(silence);
    }
    // Only the picture here: the base render runs each child effect once, inside its own span.
    if (wantVideo && !DrawPicture(bitmap, t))
        return false;
    return TMasterNode::RenderFrame(bitmap, wantAudio, wantVideo, t);
}

void TClipNode::WriteAfter(TValueWriter& writer) const {
    TMasterNode::WriteAfter(writer);
    writer.WriteFileName(Folder);
    writer.WriteFloat(ClipRate);
}

void TClipNode::ReadAfter(TValueReader& reader) {
    TMasterNode::ReadAfter(reader);
    SetFolder(reader.ReadFileName());
    ClipRate = ReadFiniteFloat(reader);
    NaturalDuration = GetNaturalDuration();
}
