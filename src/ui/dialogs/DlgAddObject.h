// The add-object dialog: the user picks the kind of object to add and where it goes, while the
// chosen effect plays on the demonstration clip beside the program. The kind tree, the insert
// positions, the example's arithmetic and the creation of the chosen object are plain code here;
// the window below is a thin shell over them.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MyAddOnManager.h"
#include "MyCommonParams.h"
#include "MyGraphics.h"

class IUiServices;
class ITreeItem;
class TAviReader;
class TProjectNode;
class TTreeNodeData;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// Bit k stands for node kind k; 0 means every kind.
using TNodeKindSet = uint16_t;

// What a leaf of the kind tree creates.
struct TCreateInfo {
    uint8_t Kind = 0;
    std::string AddOnID; // effects only
};

// One item of the kind tree; folders and "Root" carry no create info.
struct TKindItem {
    std::string Text;
    std::optional<TCreateInfo> Info;
    std::vector<TKindItem> Children;
};

bool KindAllowed(TNodeKindSet kinds, uint8_t kind);
// "Root" with the plain kinds and the effect folders the set allows, the effects filed under
// their folders. An entry of a type that is no effect raises "Object kind unknown for ID=".
TKindItem BuildKindTree(TNodeKindSet kinds, const std::vector<TAddOnListItem>& addons);
// Items of the tree, "Root" included.
int CountKindItems(const TKindItem& item);

// Filters and transitions draw onto what is there and hold nothing.
bool CanHaveChildren(const TTreeNodeData* node);
// Insert positions 0..3 are numbered as the factory's modes: last child, last sibling, after,
// before; "after" is the sibling right behind the target, children or not.
int InitialInsertPosition(const TTreeNodeData* target);
extern const char* const InsertPositionTexts[4];

// The example text for a counter 0..9: two lines of 26 letters with a blank after every
// seventh letter's sixth.
std::vector<std::string> ExampleLines(int textCounter);

// How OK ended: an object was made, or the dialog stays open.
enum class TAddOutcome { Created, Refused };

// Everything OK needs besides the user: creates the chosen object under (or beside) the target.
// Asks for the file of videos, sounds and music first. Refusals tell the user why where the
// user did not cause them.
struct TAddRequest {
    TProjectNode* Project = nullptr;
    ITreeItem* Target = nullptr;
    int Position = 0;
    const TCreateInfo* Info = nullptr;
    std::string Caption; // the kind item's text
    IUiServices* Ui = nullptr;
    // Runs once the user has answered everything, just before the object is made.
    std::function<void()> BeforeCreate;
};
TAddOutcome CreateChosenObject(const TAddRequest& request, TTreeNodeData*& newNode);

// The live example: the chosen effect on a frame of the demonstration clip, moved by dragging
// and shaped by the two sliders. Owns its reader and pictures; the example node belongs to the
// project while it exists.
class TAddObjectExample {
public:
    static constexpr int SliderMax = 50;

    explicit TAddObjectExample(const std::string& demoFileName);
    ~TAddObjectExample();
    TAddObjectExample(const TAddObjectExample&) = delete;
    TAddObjectExample& operator=(const TAddObjectExample&) = delete;

    bool HasClip() const { return DemoReader != nullptr; }
    // Builds the example node of info under target; false when none could be made.
    bool Build(TProjectNode& project, ITreeItem* target, const TCreateInfo& info,
               const std::string& caption);
    // Frees the example node through the project.
    void Free();
    // One step: the next frame of the clip with the effect on it. False when there is nothing
    // to show.
    bool Tick(int sizingPos, bool sizingOn, int levelPos, bool levelOn);
    // The mouse moved by (dx, dy) while dragging: the effect follows it.
    void Drag(int dx, int dy);

    TTreeNodeData* GetNode() const { return ExampleNode; }
    bool HasCurve(uint8_t kind) const;
    const TBitmap& GetBitmap() const { return DemoBitmap; }
    int GetFrame() const { return DemoFrame; }
    int GetTextCounter() const { return TextCounter; }
    TPoint GetDragOffset() const { return DragOffset; }
    void ResetText() { TextCounter = 0; }

private:
    void PreparePicture(int w, int h);

    std::unique_ptr<TAviReader> DemoReader;
    TBitmap DemoBitmap;
    TBitmap StillImage;
    TBitmap OwnPicture;
    std::vector<std::string> DemoLines;
    // Text effects draw nothing without a font: the example lends them the default one.
    TFontInfo DemoFont;
    int DemoFrame = 0;
    int TextCounter = 0;
    TPoint DragOffset{50, 50};
    TProjectNode* Project = nullptr;
    TTreeNodeData* ExampleNode = nullptr;
};

class TAddObjectDlg : public QDialog {
    Q_OBJECT
public:
    // programFolder: where "demo.bin" lies.
    TAddObjectDlg(const std::string& programFolder, IUiServices* ui, QWidget* parent = nullptr);
    ~TAddObjectDlg() override;

    void SetProject(TProjectNode* project) { Project = project; }

    // Set by the caller before showing.
    TNodeKindSet Kinds = 0;
    ITreeItem* TargetItem = nullptr;
    // The node OK created; null until then.
    TTreeNodeData* NewNode = nullptr;

    // Shows the dialog modally; the result is QDialog's.
    int ShowModal();
    // Tests drive the shown dialog from here instead of a modal loop; the hook's answer is the
    // modal result.
    static std::function<int(TAddObjectDlg&)> ExecHook;

    // Selects the kind item of that text; false when there is none.
    bool SelectKind(const std::string& text);
    // Presses OK: true when the dialog closed with an object made.
    bool PressOK();
    QTreeWidgetItem* FindKindItem(const std::string& text) const;
    TAddObjectExample& Example() { return *ExampleRig; }
    std::string DemoFileName;

    QTreeWidget* tvKinds;
    QComboBox* cbPosition;
    QCheckBox* cbShowExample;
    QLabel* lDrag;
    QLabel* lSizing;
    QLabel* lLevel;
    QSlider* tbSizing;
    QSlider* tbLevel;
    QLabel* ExampleImage;
    QLabel* lNoExample;
    QPushButton* bOK;
    QPushButton* bCancel;
    QTimer* tmExample;
    static constexpr int ExampleInterval = 50, ExampleRest = 50; // ms

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectControls();
    void FormShow();
    void FillKindTree();
    void FitKindTreeWidth(const TKindItem& tree);
    bool BuildExample(QTreeWidgetItem* item);
    void ShowNoExample();
    void SelectionChanged();
    void cbShowExampleClick();
    void tmExampleTimer();
    void ShowExampleBitmap();
    void bOKClick();
    void ExpandAll(bool collapse);

    IUiServices* Ui;
    TProjectNode* Project = nullptr;
    std::unique_ptr<TAddObjectExample> ExampleRig;
    std::vector<std::unique_ptr<TCreateInfo>> Infos;
    QTreeWidgetItem* VideoItem = nullptr;
    QTreeWidgetItem* RootItem = nullptr;
    int ItemCount = 0;
    bool CloseAllowed = true;
    // Set while OK makes the object, the dialog hidden meanwhile.
    bool Working = false;
    bool Busy = false;
    bool Dragging = false;
    bool InDrag = false;
    bool Rebuilding = false;
    QPoint DragLast;
};
