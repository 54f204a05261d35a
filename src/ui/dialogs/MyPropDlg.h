// The property dialog: one page per kind of object, filled from the node, checked when the user
// confirms, and written back on OK; Cancel sets back everything the page changed while it was
// open. The page choice, the checks and the write-back arithmetic are plain functions here.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MyBase.h"
#include "MyCommonParams.h"

class IUiServices;
class TClipNode;
class TProjectNode;
class TTreeNodeData;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QWidget;

// Notebook pages by index.
enum TPropPage : int {
    ppProject = 0,
    ppFolder = 1,
    ppMovie = 2,
    ppExternalBitmap = 3,
    ppExternalText = 4,
    ppTransitions = 5,
    ppBlank = 6,
    ppBitmapClip = 7,
    ppSubProject = 8,
    ppCommon = 9,
    // Overlays without a source kind get no dialog (False); unknown kinds none either (True).
    ppNoneFalse = -1,
    ppNoneTrue = -2,
};
extern const char* const PropPageNames[10];

TPropPage PropPageOf(TTreeNodeData* node, const TProjectNode* project);

// The checks of the project page on the texts of its edits; the message of the first rule that
// fails, nothing when all pass. An empty edit fails like a too small value.
std::optional<std::string> ValidateProjectPage(const std::string& width, const std::string& height,
                                               const std::string& rate);
// "Can not find file " + name when it does not exist or no name is given.
std::optional<std::string> ValidateFileExists(const std::string& name);
// Whether a video, sound or music object could read the file it holds (other nodes: true).
bool SourceLoaded(TTreeNodeData* node);
// The movie page's file: found, and read by the object.
std::optional<std::string> ValidateMovieFile(TTreeNodeData* node, const std::string& name);
// A sub-project file may not be, nor hold, the project being edited (saved as projectFile).
std::optional<std::string> ValidateSubProject(const std::string& name,
                                              const std::string& projectFile);
// Blank and transition lengths in milliseconds.
std::optional<std::string> ValidateDurationMs(int64_t ms);
std::optional<std::string> ValidateClip(int32_t pictureCount, const std::string& folder);
// The clip's picture rate: above 0 (a clip of rate 0 has no pictures in time) and at most the
// highest frame rate a project plays.
std::optional<std::string> ValidateClipRate(const std::string& rate);

// The bitmap clip page's memo.
std::vector<std::string> ClipMemoLines(TClipNode& clip);

// Width and height edits keep their digits only (at most nine, no leading zeros); an edit
// without digits stays empty.
std::string DigitsOnly(const std::string& text);

// The sampling list: 48000, 44100, 22050 and 11025 Hz, and the project's own rate in its place
// when it is none of these, so a project is never moved to another rate unasked.
std::vector<uint32_t> SamplingRates(uint32_t projectRate);
// Entry for the project's rate; a rate of 0 chooses 44100.
int SamplingIndex(const std::vector<uint32_t>& rates, uint32_t projectRate);

// The project's sound format after OK: PCM of the chosen rate, channels and width in PCM mode
// (the first bits entry stores 8 bits), PCM 44100 Hz stereo 16-bit in any other.
void ProjectAudioFormat(int64_t audioMode, uint32_t rate, bool stereo, int bitsIndex,
                        TAudioFormat& format);
// The caption a label gives: trimmed, or the add-on name + ":<No label>" when empty.
std::string CaptionFromLabel(const std::string& label, const std::string& addOnName);
// Milliseconds shown for a length in seconds, and the length stored for them.
int32_t SecondsToMs(Extended seconds);
Extended MsToSeconds(int32_t ms);
// True when both names reach the same file (links and relative parts resolved).
bool SameFile(const std::string& a, const std::string& b);

// What a page may change on the node and the project while it is open, kept to set it back.
struct TPropUndo {
    bool FileNameSet = false;
    std::string FileName;
    bool ClipSet = false;
    Extended ClipRate = 0;
    std::string ClipFolder;
    bool ProjectSet = false;
    bool AudioOn = false;
    uint32_t FourCC = 0;

    void Keep(TTreeNodeData* node, TProjectNode* project, TPropPage page);
    void Restore(TTreeNodeData* node, TProjectNode* project) const;
};

class TPropDlg : public QDialog {
    Q_OBJECT
public:
    TPropDlg(IUiServices* ui, QWidget* parent = nullptr);
    ~TPropDlg() override;

    // Shows the page of the node; True when the user confirmed and the values were written.
    bool Execute(TTreeNodeData* node, TProjectNode* project);
    // Tests drive the shown dialog from here instead of a modal loop; the hook's answer is the
    // modal result.
    static std::function<int(TPropDlg&)> ExecHook;

    void PressOK();
    void PressCancel();
    TPropPage GetPage() const { return Page; }

    bool Cancelled = false;
    QLineEdit* eLabel;
    QPlainTextEdit* mDescription;
    QStackedWidget* Notebook;
    QPushButton* bOK;
    QPushButton* bCancel;
    // Project.
    QLineEdit* eProjWidth;
    QLineEdit* eProjHeight;
    QLineEdit* eProjFPS;
    QCheckBox* cbExportSound;
    QComboBox* cbVidComp;
    QPushButton* bVidCompSet;
    QComboBox* cbAudioCodec;
    QGroupBox* gbSound;
    QComboBox* cbSampling;
    QComboBox* cbBits;
    QCheckBox* cbStereo;
    // Folder.
    QLineEdit* eFolderCaption;
    // Movie.
    QLineEdit* eMovieFile;
    QPushButton* bMovieSet;
    QPushButton* bMovieRange;
    QPlainTextEdit* mMovieAbout;
    QCheckBox* cbUseAudio;
    QGroupBox* gbWarpDuration;
    QSpinBox* seWarpDuration;
    QPushButton* bFit;
    // External bitmap.
    QLineEdit* eBitmapFile;
    QPushButton* bBitmapSet;
    QPlainTextEdit* mBitmapAbout;
    // Transitions.
    QSpinBox* seTransLength;
    // Blank.
    QSpinBox* seBlankDuration;
    QWidget* pBlankColor;
    QPushButton* bBlankColor;
    // Bitmap clip.
    QLineEdit* eClipFolder;
    QPushButton* bClipSet;
    QLineEdit* eClipRate;
    QPlainTextEdit* mClipInfo;
    // Sub-project.
    QLineEdit* eSubFile;
    QPushButton* bSubSet;

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* BuildProjectPage();
    QWidget* BuildMoviePage();
    QWidget* BuildBlankPage();
    QWidget* BuildClipPage();
    QWidget* BuildFilePage(QLineEdit*& edit, QPushButton*& set, QPlainTextEdit* about);
    void FillPage();
    void FillProjectPage();
    void FillMoviePage();
    void FillClipMemo();
    bool WriteBack();
    void WriteProjectPage();
    bool WriteMoviePage();
    std::optional<std::string> ValidatePage() const;
    // Tells why the page can not be taken as it stands; false when it can.
    bool PageRefused();
    void TakeTypedFolder();
    void CodecChanged();
    void CompressorChanged();
    void bMovieSetClick();
    void bBitmapSetClick();
    void bClipSetClick();
    void bSubSetClick();
    void bFitClick();
    void bBlankColorClick();
    void eClipRateChange();
    void FillInfo(QPlainTextEdit* memo);
    uint32_t BlankColor() const;
    void SetBlankColor(uint32_t color);

    IUiServices* Ui;
    TTreeNodeData* Node = nullptr;
    TProjectNode* Project = nullptr;
    TPropPage Page = ppCommon;
    std::vector<uint32_t> Rates;
    std::vector<uint32_t> CodecTags;
    std::vector<uint32_t> CompressorCodes;
    bool Filling = false;
    // The movie page's in and out points, written to the node only on OK.
    bool RangeUsed = false;
    TPartialInfo Range;
};
