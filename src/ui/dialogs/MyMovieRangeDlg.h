// The movie-range dialog: picks the in and out points of the part of a movie or sound file that
// an object uses, while the file plays in the clip player. TMovieRange holds the arithmetic and
// texts; TMovieRangeDlg is the window over it.
#pragma once

#include <QColor>
#include <QDialog>

#include <functional>
#include <memory>
#include <string>

#include "MyBase.h"
#include "MyClipPlayer.h"
#include "MyCommonParams.h"

class IUiServices;
class TTreeNodeData;
class QLineEdit;
class QLabel;
class QRadioButton;
class QSlider;
class QTimer;
class QToolButton;
class QPushButton;

class TMovieRange {
public:
    // The shortest part OK accepts, in seconds.
    static constexpr Extended MinimumLength = 0.05L;

    // The copy being edited; the caller's range gets it only on OK.
    TPartialInfo Range;
    Extended Length = 0;
    int32_t FrameCount = 0;
    Extended FramesPerSecond = 0;
    int32_t Step = 1;

    // False while the track bar counts steps of another rate than the file's own.
    bool OwnSteps = true;

    // Frames moved by one fine-step tick at fps: a fifth of a second, at least 1.
    static int32_t StepFor(Extended fps);
    // The file's own steps: frameCount of them over length seconds.
    void Load(int32_t frameCount, Extended length);
    // Steps at rate over length seconds instead, where the caller picks the range at another
    // rate than the file's (a sound to the millisecond out of a movie's track).
    void LoadAt(Extended rate, Extended length);

    // Position of a time on the track bar, and back.
    int32_t FrameOf(Extended seconds) const;
    Extended TimeOf(int32_t position) const;
    // "0h:00m:01s:00ms [25]".
    std::string StatusText(Extended seconds) const;

    void SetBeginning();
    void ChooseCustomStart() { Range.FromStart = Range.InTime == 0; }
    void PickStart(Extended now);
    // Where "Locate" of the start goes.
    int32_t StartPosition() const;
    std::string StartText() const { return FormatTimeText(Range.FromStart ? 0 : Range.InTime); }

    void SetEnd();
    void ChooseCustomEnd() { Range.ToEnd = Range.OutTime == 0; }
    void PickEnd(Extended now);
    int32_t EndPosition() const;
    std::string EndText() const { return FormatTimeText(Range.ToEnd ? Length : Range.OutTime); }

    // The in and out points the range stands for, in seconds of the file.
    Extended InPoint() const { return Range.FromStart ? 0 : Range.InTime; }
    Extended OutPoint() const { return Range.ToEnd ? Length : Range.OutTime; }
    // OK takes only a part at least MinimumLength long.
    bool IsAcceptable() const { return OutPoint() - InPoint() >= MinimumLength; }
};

// The rate an object's range is picked at: milliseconds for a sound object, else the frame rate
// of its file; 0 when the file can not be read.
Extended RangeStepRate(const TTreeNodeData* node);

// What the caller hands the dialog besides the file and the range.
struct TMovieRangeSetup {
    // Steps of the track bar per second; 0 takes the file's own.
    Extended Rate = 0;
    // Colour of the panel around the picture.
    QColor Background = Qt::black;
};

class TMovieRangeDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the dialog on the file. On OK the range is written back and the result is True;
    // otherwise the range is untouched. A file that can not be opened shows
    // "Can not open " + name and gives False.
    static bool Execute(const std::string& fileName, TPartialInfo& range, IUiServices* ui,
                        QWidget* parent = nullptr, const TMovieRangeSetup& setup = {});
    // Tests replace the modal run: called with the loaded dialog, returns its result.
    static inline std::function<int(TMovieRangeDlg&)> ExecHook;
    // Sound device of the player (the real one when empty); tests set a fake.
    static inline TClipPlayer::TDeviceFactory DeviceFactory;

    TMovieRangeDlg(IUiServices* ui, QWidget* parent = nullptr);
    ~TMovieRangeDlg() override;

    // Opens the file and takes the range, stepping at rate (0: the file's own); False when the
    // file can not be opened.
    bool Load(const std::string& fileName, const TPartialInfo& range, Extended rate = 0);
    const TMovieRange& GetRange() const { return Logic; }
    TClipPlayer& GetPlayer() { return Player; }

    // Moves the track bar (and the player) to position.
    void SetPosition(int32_t position);
    // One fine-step tick in direction 1 (back) or 2 (forward).
    void StepTick();

    QLabel* StatusBar;
    TClipPlayerWidget* PlayerView;
    QSlider* TrackBar;
    QToolButton* sbFirst;
    QToolButton* sbPlay;
    QToolButton* sbStop;
    QToolButton* sbLast;
    QToolButton* sbBefore;
    QToolButton* sbNext;
    QRadioButton* rbBeginning;
    QRadioButton* rbCustomStart;
    QLineEdit* eStart;
    QToolButton* sbPickStart;
    QToolButton* sbLocateStart;
    QRadioButton* rbEnd;
    QRadioButton* rbCustomEnd;
    QLineEdit* eEnd;
    QToolButton* sbPickEnd;
    QToolButton* sbLocateEnd;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QTimer* tmTrack;
    QTimer* tmStep;
    int StepDirection = 0;

private:
    void BuildControls();
    QWidget* BuildPlayerRow();
    QWidget* BuildSide(bool start);
    void ShowRange();
    // The player at a track bar position, and back.
    void MovePlayer(int32_t position);
    int32_t PlayerPosition() const;
    void TrackBarChange();
    void PlayClick();
    void StopClick();
    void TrackTimer();
    void OkClick();

    IUiServices* Ui;
    TClipPlayer Player;
    TMovieRange Logic;
    int32_t LastPosition = -1;
    bool Filling = false;
};
