// The commands of the track image's popup menu as a plain class: which items are enabled, and
// what adding, inserting, replacing, marking, locating, settings, pegs and stop points do to the
// project. The window builds the menu from the state and calls these; everything it needs of
// the main window comes through the host record, so the commands run without widgets.
#pragma once

#include <cstdint>
#include <functional>

#include "DlgAddObject.h"
#include "MyTrackDraw.h"

class IUiServices;

// Node kind sets handed to the add-object flow (bit k stands for kind k).
inline constexpr TNodeKindSet VideoKindSet = 0x7254;
inline constexpr TNodeKindSet EffectKindSet = 0x08A0;

struct TTrackMenuState {
    bool TopLevel = true; // every top-level item; off in adjust mode
    bool AddVideo = false, AddEffect = false, Delete = false;
    bool InsertBefore = false, InsertAfter = false, Replace = false;
    bool MarkInOut = false, Locate = false, Settings = false, Peg = false;
    bool SetColor = false, Property = false, DeleteStopPoint = false;
    bool Enabled = false, EnabledChecked = false;
    bool Lock = false, LockChecked = false;
    bool UseViewer = false;
};

// The menu as it opens: nodeAtP is the node under the press point, active the active node
// after the press made nodeAtP active.
TTrackMenuState GetTrackMenuState(bool adjustMode, TTreeNodeData* nodeAtP, TTreeNodeData* hoverNode,
                                  TStopPoint* hoverStop, TTreeNodeData* active);

// The Mark-in and Mark-out submenu: all five off unless the press lies in the active node's row.
struct TMarkMenuState {
    bool SetIn = false, SetOut = false, ReleaseIn = false, ReleaseOut = false, UseViewer = false;
};
TMarkMenuState GetMarkMenuState(TTreeNodeData* active, int32_t x, int32_t y);

enum class TAddPlacement { AddVideo, AddEffect, InsertBefore, InsertAfter, Replace };

// What the commands ask of the main window and the timeline.
struct TTimelineCommandHost {
    std::function<TTreeNodeData*(uint16_t kinds)> AddObject; // the add-object flow; null: none
    std::function<void(TTreeNodeData*)> DeleteObject;        // selects the node's item, runs Delete
    std::function<void(bool atEnd)> GotoObjectEdge;
    std::function<void()> EditNodeProperties;
    std::function<void()> EditMovieRange;
    std::function<void(bool render)> RefreshProject;
    std::function<bool()> ProjectItemSelected;
    std::function<void(bool begin)> TreeUpdate;
    std::function<void()> Repaint;
    std::function<void(int64_t pixels)> SetCursorPixels; // play cursor, strip pixels
    std::function<void(int mode)> LocateCursor;
    std::function<void(int32_t frame)> SetFrame;  // renders frame anew (-1: the cursor's), soon
    std::function<void(int32_t frame)> SendFrame; // the same, before it returns
    std::function<int32_t()> FramePos;
};

class TTimelineCommands {
public:
    TTimelineCommands(TTrackDraw& draw, IUiServices* ui, TTimelineCommandHost host)
        : Draw(draw), Ui(ui), Host(std::move(host)) {}

    static constexpr uint32_t Gray = 0x808080;

    // The shared add command; hoverNode is the node the menu opened on. Returns the new node.
    TTreeNodeData* Add(TAddPlacement how, TTreeNodeData* hoverNode);
    void Delete(TTreeNodeData* hoverNode);

    // p: the press point in image pixels; t its time; scrollX the strip's scroll.
    void SetMarkIn(Extended t, const TTimeScale& sc);
    void SetMarkOut(Extended t, int32_t x, const TTimeScale& sc);
    void ReleaseMarkIn();
    void ReleaseMarkOut();
    void Locate(bool atEnd);

    void ToggleEnabled(TTreeNodeData* node);
    void ToggleLock(TTreeNodeData* node);
    void SetTrackColor(TTreeNodeData* node);

    void AddStopPoint(int32_t y, Extended t);
    void DeleteStopPoint(TStopPoint* s);
    void ClearStopPoints();
    void AddPeg(int32_t y, Extended t);
    void DeletePeg(TStopPoint* s);
    void ClearPegs();

private:
    void Place(TTreeNodeData* node, TAddPlacement how, TTreeNodeData* target,
               TTreeNodeData* hoverNode);
    void AfterMark(TTreeNodeData* node);
    void Repaint() {
        if (Host.Repaint)
            Host.Repaint();
    }

    TTrackDraw& Draw;
    IUiServices* Ui;
    TTimelineCommandHost Host;
};
