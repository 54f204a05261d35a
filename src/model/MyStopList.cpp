#include "MyStopList.h"

#include <utility>

#include "MyTreeNode.h"

Extended TStopPoint::GetTime() const {
    if (Pending) return PendingTime;
    Extended off = PegOffset;
    Extended d = Owner->GetDuration();
    if (off > d) off = d;
    if (off < 0) off = 0;
    return Owner->GetStartTime() + off;
}

void TStopPoint::SetTime(Extended t) {
    Pending = false;
    PegOffset = t - Owner->GetStartTime();
}

void TStopPoint::Resolve() {
    if (Pending) SetTime(PendingTime);
}

TStopPoint* TStopList::GetItem(int i) const {
    if (i < 0 || i >= GetCount())
        throw EListError("TStopList.GetItem: index out of bounds", i, GetCount());
    return Items[i].get();
}

TStopPoint* TStopList::AddPoint(Extended t) {
    if (GetCount() >= 2) throw EInvalidOperation("TStopList: More than 2 stop points");
    auto p = std::make_unique<TStopPoint>(Owner);
    p->SetTime(t);
    TStopPoint* raw = p.get();
    Items.push_back(std::move(p));
    SortByTime();
    return raw;
}

void TStopList::SortByTime() {
    if (GetCount() >= 2 && Items[0]->GetTime() > Items[1]->GetTime()) std::swap(Items[0], Items[1]);
}

void TStopList::Delete(int i) {
    GetItem(i);
    Items.erase(Items.begin() + i);
}

void TStopList::ResolvePending() {
    for (auto& p : Items) p->Resolve();
}
