#include "DlgAddObject.h"
#include "MyDialogButtons.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "IUiServices.h"
#include "MyProjNode.h"

std::function<int(TAddObjectDlg&)> TAddObjectDlg::ExecHook;

namespace {

constexpr int InfoRole = Qt::UserRole + 1;

const TCreateInfo* InfoOf(const QTreeWidgetItem* item) {
    return item ? static_cast<const TCreateInfo*>(item->data(0, InfoRole).value<void*>()) : nullptr;
}

QSlider* MakeSlider(QWidget* parent) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(0, TAddObjectExample::SliderMax);
    s->setValue(TAddObjectExample::SliderMax / 2);
    return s;
}

} // namespace

TAddObjectDlg::TAddObjectDlg(const std::string& programFolder, IUiServices* ui, QWidget* parent)
    : QDialog(parent), Ui(ui) {
    setWindowTitle(QStringLiteral("Add an object"));
    DemoFileName = (std::filesystem::path(programFolder) / "demo.bin").string();
    ExampleRig = std::make_unique<TAddObjectExample>(DemoFileName);

    auto* main = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    tvKinds = new QTreeWidget(this);
    tvKinds->setHeaderHidden(true);
    tvKinds->setContextMenuPolicy(Qt::CustomContextMenu);
    left->addWidget(tvKinds, 1);
    left->addWidget(new QLabel(QStringLiteral("Insert the new object"), this));
    cbPosition = new QComboBox(this);
    for (const char* text : InsertPositionTexts)
        cbPosition->addItem(QString::fromLatin1(text));
    left->addWidget(cbPosition);
    cbShowExample = new QCheckBox(QStringLiteral("Show available example"), this);
    cbShowExample->setChecked(true);
    left->addWidget(cbShowExample);
    main->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    ExampleImage = new QLabel(this);
    ExampleImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ExampleImage->setMinimumSize(160, 120);
    ExampleImage->installEventFilter(this);
    lNoExample = new QLabel(QStringLiteral("No example is available"), this);
    lDrag = new QLabel(QStringLiteral("Point and drag to relocate"), this);
    lSizing = new QLabel(QStringLiteral("Size"), this);
    tbSizing = MakeSlider(this);
    lLevel = new QLabel(QStringLiteral("Level"), this);
    tbLevel = MakeSlider(this);
    for (QWidget* w : std::initializer_list<QWidget*>{ExampleImage, lNoExample, lDrag, lSizing,
                                                      tbSizing, lLevel, tbLevel})
        right->addWidget(w);
    right->addStretch(1);
    right->addLayout(MakeOkCancelRow(this, bOK, bCancel));
    main->addLayout(right, 1);
    setLayout(main);
    // The example and the words shown instead of it take their room either way, so the dialog
    // keeps one size from kind to kind.
    for (QWidget* w : {static_cast<QWidget*>(ExampleImage), static_cast<QWidget*>(lNoExample)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    KeepLayoutSize(this);

    tmExample = new QTimer(this);
    tmExample->setInterval(ExampleInterval);
    tmExample->setSingleShot(true);
    ConnectControls();
}

void TAddObjectDlg::ConnectControls() {
    connect(tmExample, &QTimer::timeout, this, [this] { tmExampleTimer(); });
    connect(bOK, &QPushButton::clicked, this, [this] { bOKClick(); });
    connect(bCancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(cbShowExample, &QCheckBox::clicked, this, [this] { cbShowExampleClick(); });
    connect(tvKinds, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* now, QTreeWidgetItem* before) {
                if (Rebuilding)
                    return;
                if (Busy && before) {
                    // A tick is drawing the example of the old item: the change waits.
                    QSignalBlocker block(tvKinds);
                    tvKinds->setCurrentItem(before);
                    return;
                }
                BuildExample(now);
                SelectionChanged();
            });
    connect(tvKinds, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (bOK->isEnabled())
            bOKClick();
    });
    connect(tvKinds, &QTreeWidget::itemCollapsed, this, [this] {
        if (RootItem)
            tvKinds->setCurrentItem(RootItem);
    });
    connect(tvKinds, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("Expand all"), this, [this] { ExpandAll(false); });
        menu->addAction(QStringLiteral("Collapse all"), this, [this] { ExpandAll(true); });
        menu->popup(tvKinds->viewport()->mapToGlobal(pos));
    });
}

TAddObjectDlg::~TAddObjectDlg() {
    tmExample->stop();
    ExampleRig.reset();
}

int TAddObjectDlg::ShowModal() {
    NewNode = nullptr;
    setResult(QDialog::Rejected);
    if (ExecHook) {
        show();
        const int r = ExecHook(*this);
        if (isVisible())
            hide();
        return r;
    }
    // Not exec(): its loop ends when the dialog hides, and OK hides it while the object is made.
    // This loop ends when the dialog is done.
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    setWindowModality(Qt::ApplicationModal);
    show();
    loop.exec(QEventLoop::DialogExec);
    return result();
}

void TAddObjectDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Back after a refused OK, the dialog keeps the user's choice.
    if (!Working)
        FormShow();
}

void TAddObjectDlg::FormShow() {
    VideoItem = nullptr;
    FillKindTree();
    CloseAllowed = true;
    AddOnPreview.Active = true;
    auto* target = TargetItem ? static_cast<TTreeNodeData*>(TargetItem->GetData()) : nullptr;
    cbPosition->setCurrentIndex(InitialInsertPosition(target));
    QTreeWidgetItem* first = (Kinds >> nkVideo) & 1u ? VideoItem : RootItem;
    tvKinds->setCurrentItem(first ? first : RootItem);
    if (tvKinds->isEnabled())
        tvKinds->setFocus();
}

void TAddObjectDlg::FillKindTree() {
    const QSignalBlocker block(tvKinds);
    Rebuilding = true;
    tvKinds->clear();
    Infos.clear();
    std::vector<TAddOnListItem> addons;
    if (Project && Project->AddOnManager)
        Project->AddOnManager->FillList(addons);
    const TKindItem tree = BuildKindTree(Kinds, addons);
    std::function<QTreeWidgetItem*(const TKindItem&, QTreeWidgetItem*)> add =
        [&](const TKindItem& k, QTreeWidgetItem* parent) {
            auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvKinds);
            item->setText(0, QString::fromStdString(k.Text));
            if (k.Info) {
                Infos.push_back(std::make_unique<TCreateInfo>(*k.Info));
                item->setData(0, InfoRole, QVariant::fromValue<void*>(Infos.back().get()));
                if (k.Info->Kind == nkVideo && k.Info->AddOnID.empty())
                    VideoItem = item;
            }
            for (const TKindItem& c : k.Children)
                add(c, item);
            return item;
        };
    RootItem = add(tree, nullptr);
    ItemCount = CountKindItems(tree);
    if (ItemCount < 20)
        tvKinds->expandAll();
    else
        RootItem->setExpanded(true);
    FitKindTreeWidth(tree);
    Rebuilding = false;
}

void TAddObjectDlg::FitKindTreeWidth(const TKindItem& tree) {
    // Wide enough for the longest name at its depth, expanded or not, so no name is cut.
    const QFontMetrics fm(tvKinds->font());
    int widest = 0;
    std::function<void(const TKindItem&, int)> walk = [&](const TKindItem& k, int depth) {
        const int w = (depth + 1) * tvKinds->indentation() +
                      fm.horizontalAdvance(QString::fromStdString(k.Text));
        widest = std::max(widest, w);
        for (const TKindItem& c : k.Children)
            walk(c, depth + 1);
    };
    walk(tree, 0);
    const int chrome = 2 * tvKinds->frameWidth() +
                       tvKinds->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                       2 * fm.averageCharWidth();
    tvKinds->setMinimumWidth(widest + chrome);
}

void TAddObjectDlg::ExpandAll(bool collapse) {
    if (collapse && ItemCount >= 20) {
        {
            const QSignalBlocker block(tvKinds);
            tvKinds->collapseAll();
            RootItem->setExpanded(true);
        }
        // As after collapsing any item: the choice goes back to "Root".
        tvKinds->setCurrentItem(RootItem);
    } else {
        const QSignalBlocker block(tvKinds);
        tvKinds->expandAll();
    }
}

QTreeWidgetItem* TAddObjectDlg::FindKindItem(const std::string& text) const {
    const auto found =
        tvKinds->findItems(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

bool TAddObjectDlg::SelectKind(const std::string& text) {
    QTreeWidgetItem* item = FindKindItem(text);
    if (item)
        tvKinds->setCurrentItem(item);
    return item != nullptr;
}

void TAddObjectDlg::SelectionChanged() {
    // Only a kind that creates something can be confirmed.
    bOK->setEnabled(InfoOf(tvKinds->currentItem()) != nullptr);
}

void TAddObjectDlg::ShowNoExample() {
    for (QWidget* w : std::initializer_list<QWidget*>{lDrag, tbSizing, lSizing, tbLevel, lLevel})
        w->setEnabled(false);
    ExampleImage->hide();
    lNoExample->show();
}

bool TAddObjectDlg::BuildExample(QTreeWidgetItem* item) {
    if (Busy)
        return false;
    tmExample->stop();
    ExampleRig->Free();
    const TCreateInfo* info = InfoOf(item);
    if (!info || item == RootItem || !Project || !TargetItem) {
        ShowNoExample();
        return true;
    }
    tbSizing->setValue(TAddObjectExample::SliderMax / 2);
    tbLevel->setValue(TAddObjectExample::SliderMax / 2);
    if (!cbShowExample->isChecked() ||
        !ExampleRig->Build(*Project, TargetItem, *info, item->text(0).toStdString())) {
        ShowNoExample();
        ExampleImage->setCursor(Qt::ForbiddenCursor);
        return true;
    }
    lDrag->setEnabled(ExampleRig->HasCurve(1));
    lSizing->setEnabled(ExampleRig->HasCurve(2));
    tbSizing->setEnabled(ExampleRig->HasCurve(2));
    lLevel->setEnabled(ExampleRig->HasCurve(3));
    tbLevel->setEnabled(ExampleRig->HasCurve(3));
    lNoExample->hide();
    ExampleImage->show();
    ShowExampleBitmap();
    ExampleImage->setCursor(ExampleRig->HasCurve(1) ? Qt::PointingHandCursor : Qt::ForbiddenCursor);
    tmExample->start(ExampleInterval);
    return true;
}

void TAddObjectDlg::cbShowExampleClick() {
    ExampleRig->ResetText();
    tbSizing->setValue(6);
    tbLevel->setValue(6);
    ExampleImage->setVisible(cbShowExample->isChecked());
    BuildExample(tvKinds->currentItem());
}

void TAddObjectDlg::ShowExampleBitmap() {
    const TBitmap& b = ExampleRig->GetBitmap();
    if (b.Empty())
        return;
    const QImage view(b.Bits(), b.Width(), b.Height(), b.RowBytes(), QImage::Format_BGR888);
    ExampleImage->setPixmap(QPixmap::fromImage(view));
}

void TAddObjectDlg::tmExampleTimer() {
    if (!ExampleRig->GetNode() || !ExampleRig->HasClip())
        return;
    Busy = true;
    auto done = MakeScopeExit([this] {
        Busy = false;
        // After each picture the example rests a while longer, so it never hogs the program.
        if (ExampleRig->GetNode() && isVisible())
            tmExample->start(ExampleInterval + ExampleRest);
    });
    if (ExampleRig->Tick(tbSizing->value(), tbSizing->isEnabled(), tbLevel->value(),
                         tbLevel->isEnabled()))
        ShowExampleBitmap();
}

bool TAddObjectDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ExampleImage)
        return QDialog::eventFilter(watched, event);
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return false;
    auto* e = static_cast<QMouseEvent*>(event);
    switch (type) {
    case QEvent::MouseButtonPress:
        if (ExampleImage->cursor().shape() == Qt::PointingHandCursor) {
            Dragging = true;
            DragLast = e->position().toPoint();
        }
        return false;
    case QEvent::MouseMove:
        if (Dragging && !InDrag) {
            InDrag = true;
            const QPoint now = e->position().toPoint();
            ExampleRig->Drag(now.x() - DragLast.x(), now.y() - DragLast.y());
            DragLast = now;
            InDrag = false;
        }
        return false;
    case QEvent::MouseButtonRelease:
        Dragging = false;
        return false;
    default:
        return false;
    }
}

void TAddObjectDlg::bOKClick() {
    // The dialog steps aside while the object is made, so the file dialog and any message come
    // over the main window; it comes back when nothing was made.
    Working = true;
    auto working = MakeScopeExit([this] { Working = false; });
    hide();
    CloseAllowed = false;
    AddOnPreview.Active = false;
    TAddRequest rq;
    rq.Project = Project;
    rq.Target = TargetItem;
    rq.Position = cbPosition->currentIndex();
    rq.Info = InfoOf(tvKinds->currentItem());
    rq.Caption = tvKinds->currentItem() ? tvKinds->currentItem()->text(0).toStdString() : "";
    rq.Ui = Ui;
    rq.BeforeCreate = [this] {
        tmExample->stop();
        ExampleRig->Free();
    };
    TTreeNodeData* node = nullptr;
    TAddOutcome outcome = TAddOutcome::Refused;
    {
        // Shown again however the work ends, unless it made the object.
        auto reshow = MakeScopeExit([this, &outcome] {
            if (outcome != TAddOutcome::Created)
                show();
        });
        outcome = Project ? CreateChosenObject(rq, node) : TAddOutcome::Refused;
    }
    if (outcome != TAddOutcome::Created) {
        // The dialog stays with its choice, and the example of it is made again.
        CloseAllowed = true;
        AddOnPreview.Active = true;
        if (!ExampleRig->GetNode() && isVisible())
            BuildExample(tvKinds->currentItem());
        return;
    }
    NewNode = node;
    CloseAllowed = true;
    accept();
}

void TAddObjectDlg::done(int result) {
    if (!CloseAllowed) {
        CloseAllowed = true;
        return;
    }
    QDialog::done(result);
}

void TAddObjectDlg::hideEvent(QHideEvent* event) {
    tmExample->stop();
    ExampleRig->Free();
    QDialog::hideEvent(event);
}

bool TAddObjectDlg::PressOK() {
    if (!bOK->isEnabled())
        return false;
    bOKClick();
    return !isVisible() && result() == QDialog::Accepted;
}
