// The main window and the timeline offscreen for tests: a scratch settings folder, scripted
// services, a playback loop a test may replace, and helpers that add clips, paint the track
// image, send mouse events and drop data.
#pragma once

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MainZunt.h"
#include "MyBlankNode.h"
#include "MyTimeline.h"
#include "MyTreeItems.h"
#include "TempFolders.h"
#include "TrackProject.h"

using TNames = std::vector<std::string>;

inline TNames Captions(TTreeNodeData* parent) {
    TNames out;
    for (int i = 0; i < parent->GetChildCount(); ++i)
        out.push_back(parent->GetChild(i)->GetCaption());
    return out;
}

// Paints the track image at 15 fps and 4 px a frame, time 0 at x 4, scrolled by scrollX.
inline void PaintTrack(TTrackDraw& draw, TBitmap& bitmap, Extended duration, int64_t scrollX = 0) {
    TTrackPaintInfo i;
    i.Bitmap = &bitmap;
    i.ScrollX = scrollX;
    i.ViewRect = TRectI{int32_t(scrollX), 0, int32_t(scrollX) + bitmap.Width(), bitmap.Height()};
    i.PixelsPerFrame = 4;
    i.FPS = 15;
    i.PixelsPerSecond = 60;
    i.Duration = duration;
    i.CursorMargin = 4;
    draw.Paint(i);
}

inline void PumpEvents(int times = 5) {
    for (int i = 0; i < times; ++i)
        QCoreApplication::processEvents();
}

// A mouse event sent straight to w in its own coordinates; moves carry no button of their own.
inline void SendMouse(QWidget* w, QEvent::Type type, QPoint at,
                      Qt::MouseButtons buttons = Qt::LeftButton,
                      Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const Qt::MouseButton b = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), b, buttons, mods);
    QCoreApplication::sendEvent(w, &e);
}

// Press at the first point, move through the middle ones, release at the last.
inline void MouseDrag(QWidget* w, const std::vector<QPoint>& path,
                      Qt::KeyboardModifiers mods = Qt::NoModifier) {
    SendMouse(w, QEvent::MouseButtonPress, path.front(), Qt::LeftButton, mods);
    for (size_t i = 1; i + 1 < path.size(); ++i)
        SendMouse(w, QEvent::MouseMove, path[i], Qt::LeftButton, mods);
    SendMouse(w, QEvent::MouseButtonRelease, path.back(), Qt::NoButton, mods);
}

// A drag of data onto widget at p, as Qt delivers it; whether the drop was accepted.
inline bool DragOnto(QWidget* widget, QMimeData* data, QPoint p) {
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(p, actions, data, Qt::LeftButton, {});
    QApplication::sendEvent(widget, &enter);
    QDragMoveEvent move(p, actions, data, Qt::LeftButton, {});
    QApplication::sendEvent(widget, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(QPointF(p), actions, data, Qt::LeftButton, {});
    QApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

class TRigForm : public TMainForm {
public:
    using TMainForm::TMainForm;
    std::function<bool(int32_t, int32_t, bool)> Loop;
    // Stands in for the platform's drag loop: delivers the drop itself.
    std::function<void(QDrag*)> Drag;
    int Runs = 0;

protected:
    bool RunPlayLoop(int32_t start, int32_t end, bool realTime) override {
        ++Runs;
        return Loop ? Loop(start, end, realTime) : TMainForm::RunPlayLoop(start, end, realTime);
    }
    void ExecTreeDrag(QDrag* drag) override {
        if (Drag)
            Drag(drag);
        else
            TMainForm::ExecTreeDrag(drag);
    }
};

template <class TUi = TFakeUiServices> class TMainWindowRig : public ::testing::Test {
protected:
    void SetUp() override { Start(&Ui); }
    void Start(IUiServices* ui) {
        Form.reset();
        Ui.Questions.clear();
        Ui.Messages.clear();
        Form = std::make_unique<TRigForm>(ui);
        Form->show();
        PumpEvents();
        Root = Form->GetProject();
    }
    void TearDown() override {
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
        EXPECT_TRUE(Ui.FileAnswers.empty()) << "dialogs not shown";
    }
    TBlankNode* AddBlank(Extended seconds, uint32_t color = 0) {
        auto* b = static_cast<TBlankNode*>(
            Root->VideoTrack->AddNode("Black frame", amLastChild, nkBlank));
        b->UserDuration = seconds;
        b->BlankColor = color;
        Form->RefreshProject(true);
        PumpEvents();
        return b;
    }
    std::string File(const std::string& name) const { return Config.PathOf(name); }
    std::string Status(int panel) const { return Form->StatusPanels[panel]->text().toStdString(); }

    TScratchConfig Config;
    TUi Ui;
    std::unique_ptr<TRigForm> Form;
    TProjectNode* Root = nullptr;
};
