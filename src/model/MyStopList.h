// Time marks of a node: on the project root the stop points that bound playback and export,
// on other nodes the pegs that place new effects inside the node's span. At most two, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "MyBase.h"

class TTreeNodeData;
class TValueWriter;
class TValueReader;

class TStopPoint {
public:
    explicit TStopPoint(TTreeNodeData* owner) : Owner(owner) {}

    TTreeNodeData* Owner;
    Extended PegOffset = 0;
    bool PegFlag = false;
    bool PegSelected = false;

    // Absolute time: the owner's start plus the offset, kept inside the owner's span.
    Extended GetTime() const;
    void SetTime(Extended t);

    // A mark read from a file holds its stored absolute time until the tree has been laid out;
    // Resolve then turns it into an offset from the owner's start.
    bool IsPending() const { return Pending; }
    void SetPendingTime(Extended t) {
        PendingTime = t;
        Pending = true;
    }
    void Resolve();
    // A mark read from another project's file (a sub-project's) holds a time on that file's time
    // line, which begins where the node base begins; marks that have a base keep theirs.
    void SetPendingBase(TTreeNodeData* base) {
        if (Pending && !PendingBase)
            PendingBase = base;
    }

private:
    // The stored time on the time line of the project the mark was read with.
    Extended PendingAbsolute() const;

    bool Pending = false;
    Extended PendingTime = 0;
    TTreeNodeData* PendingBase = nullptr;
};

// Which way a search for the nearest stop point goes from a time.
enum class TSearchDirection { Backward, Forward };

class TStopList {
public:
    explicit TStopList(TTreeNodeData* owner) : Owner(owner) {}

    TTreeNodeData* Owner;

    int GetCount() const { return static_cast<int>(Items.size()); }
    TStopPoint* GetItem(int i) const;
    TStopPoint* AddPoint(Extended t);
    void SortByTime();
    void Delete(int i);
    void Clear() { Items.clear(); }
    // Turns marks read from a file into offsets (after layout).
    void ResolvePending();
    void SetPendingBase(TTreeNodeData* base);
    // The nearest mark at or after t (Forward) or at or before it (Backward); moves t onto it
    // when found. Nothing lies before time 0.
    bool FindStopPoint(Extended& t, TSearchDirection direction) const;
    // The frame of the first mark that lies after frame at fps. One on frame itself is passed
    // over: a playback from there would end before it began.
    bool FindStopAfter(int32_t frame, Extended fps, int32_t& stop) const;

    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader);

private:
    std::vector<std::unique_ptr<TStopPoint>> Items;
};
