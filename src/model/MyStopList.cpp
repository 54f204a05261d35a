#include "MyStopList.h"

#include <cmath>
#include <limits>
#include <utility>

#include "MyTreeNode.h"
#include "MyValueStream.h"

Extended TStopPoint::PendingAbsolute() const {
    return PendingTime + (PendingBase ? PendingBase->GetStartTime() : 0);
}

Extended TStopPoint::GetTime() const {
    if (Pending)
        return PendingAbsolute();
    Extended off = PegOffset;
    Extended d = Owner->GetDuration();
    if (off > d)
        off = d;
    if (off < 0)
        off = 0;
    return Owner->GetStartTime() + off;
}

void TStopPoint::SetTime(Extended t) {
    Pending = false;
    PegOffset = t - Owner->GetStartTime();
}

void TStopPoint::Resolve() {
    if (Pending)
        SetTime(PendingAbsolute());
}

TStopPoint* TStopList::GetItem(int i) const {
    if (i < 0 || i >= GetCount())
        throw EListError("TStopList.GetItem: index out of bounds", i, GetCount());
    return Items[i].get();
}

TStopPoint* TStopList::AddPoint(Extended t) {
    if (GetCount() >= 2)
        throw EInvalidOperation("TStopList: More than 2 stop points");
    auto p = std::make_unique<TStopPoint>(Owner);
    p->SetTime(t);
    TStopPoint* raw = p.get();
    Items.push_back(std::move(p));
    SortByTime();
    return raw;
}

void TStopList::SortByTime() {
    if (GetCount() >= 2 && Items[0]->GetTime() > Items[1]->GetTime())
        std::swap(Items[0], Items[1]);
}

void TStopList::Delete(int i) {
    GetItem(i);
    Items.erase(Items.begin() + i);
}

void TStopList::ResolvePending() {
    for (auto& p : Items)
        p->Resolve();
}

void TStopList::SetPendingBase(TTreeNodeData* base) {
    for (auto& p : Items)
        p->SetPendingBase(base);
}

bool TStopList::FindStopPoint(Extended& t, TSearchDirection direction) const {
    if (t < 0)
        return false;
    const bool backwards = direction == TSearchDirection::Backward;
    bool found = false;
    Extended best = 0;
    for (const auto& p : Items) {
        const Extended s = p->GetTime();
        if (backwards ? (s <= t && (!found || s > best)) : (s >= t && (!found || s < best))) {
            best = s;
            found = true;
        }
    }
    if (found)
        t = best;
    return found;
}

bool TStopList::FindStopAfter(int32_t frame, Extended fps, int32_t& stop) const {
    if (fps == 0)
        return false;
    Extended t = frame / fps;
    while (FindStopPoint(t, TSearchDirection::Forward)) {
        const int32_t at = Round(fps * t);
        if (at > frame) {
            stop = at;
            return true;
        }
        // On the frame itself: search again from just past this stop point.
        t = std::nextafter(t, std::numeric_limits<Extended>::infinity());
    }
    return false;
}

void TStopList::SaveToWriter(TValueWriter& w) const {
    w.WriteInteger(GetCount());
    for (const auto& p : Items) {
        w.WriteFloat(p->GetTime()); // absolute time
        w.WriteBoolean(p->PegFlag);
    }
}

void TStopList::LoadFromReader(TValueReader& r) {
    Items.clear();
    // Marks keep their stored absolute time until the tree is laid out; the limit of two and
    // the order are not applied to what a file holds.
    for (int32_t n = ReadCount(r); n > 0; --n) {
        auto p = std::make_unique<TStopPoint>(Owner);
        p->SetPendingTime(ReadFiniteFloat(r));
        p->PegFlag = r.ReadBoolean();
        Items.push_back(std::move(p));
    }
}
