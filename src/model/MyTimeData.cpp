#include "MyTimeData.h"

#include <algorithm>

#include "MyTreeNode.h"
#include "MyValueStream.h"

namespace {

int16_t ClampHalf(Extended v) {
    // 5.0 x 65535 / 10 rounds to 32768, one past the signed half: keep it in range.
    int64_t r = Round64(v);
    return static_cast<int16_t>(std::clamp<int64_t>(r, -32768, 32767));
}

int16_t LowHalf(int32_t v) {
    return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFFu);
}
int16_t HighHalf(int32_t v) {
    return static_cast<int16_t>(static_cast<uint32_t>(v) >> 16);
}

int32_t JoinHalves(int16_t lo, int16_t hi) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(lo)) |
                                (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16));
}

// Blends two 0x00BBGGRR colours channel by channel.
int32_t BlendColor(Extended tp, int32_t cp, Extended tn, int32_t cn, Extended t) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        Extended a = (static_cast<uint32_t>(cp) >> shift) & 0xFF;
        Extended b = (static_cast<uint32_t>(cn) >> shift) & 0xFF;
        int64_t v = std::clamp<int64_t>(Round64(BlendValue(tp, a, tn, b, t)), 0, 255);
        out |= static_cast<uint32_t>(v) << shift;
    }
    return static_cast<int32_t>(out);
}

// The value of `next` blended with `prev` at t under the given mode.
int32_t BlendPoints(const TDataPoint& prev, const TDataPoint& next, TBlendMode mode, Extended t) {
    TDataPoint tmp;
    switch (mode) {
    case TBlendMode::Position: {
        Extended xp, yp, xn, yn;
        prev.GetPosition(xp, yp);
        next.GetPosition(xn, yn);
        tmp.SetPosition(BlendValue(prev.Time, xp, next.Time, xn, t),
                        BlendValue(prev.Time, yp, next.Time, yn, t));
        return tmp.Value;
    }
    case TBlendMode::Color:
        return BlendColor(prev.Time, prev.Value, next.Time, next.Value, t);
    case TBlendMode::Level:
    default:
        tmp.SetLevel(BlendValue(prev.Time, prev.GetLevel(), next.Time, next.GetLevel(), t));
        return tmp.Value;
    }
}

} // namespace

Extended BlendValue(Extended tp, Extended vp, Extended tn, Extended vn, Extended t) {
    if (tn == t || tn == tp)
        return vn;
    return vp + (vn - vp) * (t - tp) / (tn - tp);
}

// ---- TDataPoint -------------------------------------------------------------------------------

void TDataPoint::GetPosition(Extended& x, Extended& y) const {
    x = static_cast<Extended>(LowHalf(Value)) * 10.0L / 65535.0L;
    y = static_cast<Extended>(HighHalf(Value)) * 10.0L / 65535.0L;
}

void TDataPoint::SetPosition(Extended x, Extended y) {
    Value = JoinHalves(ClampHalf(x * 65535.0L / 10.0L), ClampHalf(y * 65535.0L / 10.0L));
}

void TDataPoint::SetLevel(Extended level) {
    Value = Round(level * 65535.0L);
}

bool TDataPoint::InterpolateInto(const TDataPoint& next, TBlendMode mode,
                                 const TDataPoint* previous, TDataPoint& dest, Extended t) {
    dest.Time = next.Time;
    dest.Value = next.Value;
    dest.Time = t;
    if (!previous)
        return false;
    dest.Value = BlendPoints(*previous, next, mode, t);
    return true;
}

bool TDataPoint::PlaceValue(int mode) {
    if (mode < 0 || mode > 2)
        return true;
    if (mode == 0) {
        Value = 0;
        return true;
    }
    if (!Owner)
        return false;
    int i = Owner->IndexOf(this);
    if (i <= 0)
        return false;
    const TDataPoint* left = Owner->GetPoint(i - 1);
    if (mode == 1) {
        Value = left->Value;
        return true;
    }
    if (i + 1 >= Owner->GetCount())
        return false;
    const TDataPoint* right = Owner->GetPoint(i + 1);
    Value = BlendPoints(*left, *right, Owner->BlendModeFor(false), Time);
    return true;
}

// ---- TTimeData --------------------------------------------------------------------------------

TTimeData::TTimeData(TTimeDataSet* set) : Set(set), CurrentPoint(this) {
    EnsurePoint();
}

TDataPoint* TTimeData::GetPoint(int i) const {
    if (i < 0 || i >= GetCount())
        throw EListError("TTimeData.GetPoint: index out of bounds", i, GetCount());
    return Points[i].get();
}

int TTimeData::IndexOf(const TDataPoint* p) const {
    for (int i = 0; i < GetCount(); ++i)
        if (Points[i].get() == p)
            return i;
    return -1;
}

TBlendMode TTimeData::BlendModeFor(bool xyForOtherModes) const {
    switch (ValueMode) {
    case vmLevel:
        return TBlendMode::Level;
    case vmPosition:
        return TBlendMode::Position;
    case vmColor:
    case vmPick:
        return TBlendMode::Color;
    default:
        return xyForOtherModes ? TBlendMode::Position : TBlendMode::Level;
    }
}

void TTimeData::EnsurePoint() {
    if (Points.empty())
        Points.push_back(std::make_unique<TDataPoint>(this));
}

TDataPoint* TTimeData::AppendPoint() {
    Points.push_back(std::make_unique<TDataPoint>(this));
    return Points.back().get();
}

void TTimeData::SortPoints() {
    std::stable_sort(Points.begin(), Points.end(),
                     [](const auto& a, const auto& b) { return a->Time < b->Time; });
}

bool TTimeData::DeletePoint(int i) {
    if (i < 0 || i >= GetCount() || GetCount() <= 1)
        return false;
    Points.erase(Points.begin() + i);
    return true;
}

TDataPoint* TTimeData::FindPointAt(Extended t) const {
    for (const auto& p : Points)
        if (p->Time == t)
            return p.get();
    return nullptr;
}

static void CopyLook(const TDataPoint* from, TDataPoint& to) {
    if (from) {
        to.Lines = from->Lines;
        to.Font.AssignLook(from->Font);
    } else {
        to.Lines.clear();
    }
}

bool TTimeData::UpdateCurrentPoint(Extended t) {
    CurrentPoint.Time = t;
    // A curve without points (a damaged file) falls back to the default point rather than
    // failing on every frame.
    EnsurePoint();
    const TDataPoint* latestVisible = nullptr;
    const int n = GetCount();
    for (int i = 0; i < n; ++i) {
        const TDataPoint* p = Points[i].get();
        if (i > 0 && t < p->Time) {
            TDataPoint::InterpolateInto(*p, BlendModeFor(true), Points[i - 1].get(), CurrentPoint,
                                        t);
            CopyLook(latestVisible, CurrentPoint);
            return false;
        }
        if (p->Visible)
            latestVisible = p;
    }
    const TDataPoint* last = Points.back().get();
    CurrentPoint.Time = last->Time;
    CurrentPoint.Value = last->Value;
    // The text shown after the last key is that of the latest visible key, hidden keys
    // included at the end as elsewhere.
    CopyLook(latestVisible, CurrentPoint);
    return true;
}

TDataPoint* TTimeData::AddNew(Extended t) {
    EnsurePoint();
    auto point = std::make_unique<TDataPoint>(this);
    point->Time = t;
    const TDataPoint* latestVisible = nullptr;
    const int n = GetCount();
    for (int i = 0; i < n; ++i) {
        const TDataPoint* p = Points[i].get();
        if (t < p->Time) {
            if (i == 0) {
                // Before the first key: keep the curve sorted and hold the first value.
                point->Value = p->Value;
                point->Font.AssignLook(p->Font);
            } else {
                point->Value = BlendPoints(*Points[i - 1], *p, BlendModeFor(false), t);
                CopyLook(latestVisible, *point);
            }
            TDataPoint* raw = point.get();
            Points.insert(Points.begin() + i, std::move(point));
            return raw;
        }
        if (p->Visible)
            latestVisible = p;
    }
    const TDataPoint* last = Points.back().get();
    point->Value = last->Value;
    point->Font.AssignLook(last->Font);
    TDataPoint* raw = point.get();
    Points.push_back(std::move(point));
    return raw;
}

// ---- TTimeDataSet -----------------------------------------------------------------------------

void TTimeDataSet::SetTime(Extended t) {
    Time = t;
    for (auto& c : Items)
        c->UpdateCurrentPoint(t);
}

TTimeData* TTimeDataSet::GetItem(int i) const {
    if (i < 0 || i >= GetCount())
        throw EListError("TTimeDataSet.GetItem: index out of bounds", i, GetCount());
    return Items[i].get();
}

TTimeData* TTimeDataSet::AddFromTemplate(const TCurveTemplate& tmpl) {
    auto c = std::make_unique<TTimeData>(this);
    c->Key = CutShortString(tmpl.Key);
    c->Caption = CutShortString(tmpl.Caption);
    c->ValueMode = tmpl.ValueMode;
    c->Kind = tmpl.Kind;
    c->TimeOnly = tmpl.TimeOnly != 0;
    Items.push_back(std::move(c));
    return Items.back().get();
}

TTimeData* TTimeDataSet::FindByKey(const std::string& key) const {
    for (const auto& c : Items)
        if (c->Key == key)
            return c.get();
    return nullptr;
}

TTimeData* TTimeDataSet::FindByKind(uint8_t kind) const {
    for (const auto& c : Items)
        if (c->Kind == kind && c->GetEnabled())
            return c.get();
    return nullptr;
}

TTimeData* TTimeDataSet::Register(uint8_t kind, const std::string& caption) {
    for (const auto& c : Items) {
        if (c->Kind != kind)
            continue;
        if (caption == "*") {
            c->Caption.clear();
            c->SetEnabled(false);
        } else {
            if (!caption.empty())
                c->Caption = CutShortString(caption);
            c->SetEnabled(true);
        }
        return c.get();
    }
    return nullptr;
}

bool TTimeDataSet::HasEnabled() const {
    for (const auto& c : Items)
        if (c->GetEnabled())
            return true;
    return false;
}

TTimeData* TTimeDataSet::GetEnabledItem(int n) const {
    for (const auto& c : Items) {
        if (!c->GetEnabled())
            continue;
        if (n == 0)
            return c.get();
        --n;
    }
    return nullptr;
}

// ---- stored form --------------------------------------------------------------------------------

void TDataPoint::SaveToWriter(TValueWriter& w) const {
    w.WriteInteger(Version);
    w.WriteFloat(Time);
    w.WriteInteger(Value);
    w.WriteBoolean(Visible);
    Font.SaveToWriter(w);
    w.WriteInteger(static_cast<int32_t>(Lines.size()));
    for (const auto& l : Lines)
        w.WriteString(l);
}

void TDataPoint::LoadFromReader(TValueReader& r) {
    VersionRead = r.ReadInteger();
    Time = ReadFiniteFloat(r);
    Value = r.ReadInteger();
    Visible = r.ReadBoolean();
    Font.LoadFromReader(r);
    for (int32_t n = ReadCount(r); n > 0; --n)
        Lines.push_back(r.ReadString());
}

void TTimeData::SaveToWriter(TValueWriter& w) const {
    w.WriteInteger(Version);
    w.WriteInteger(GetCount());
    for (const auto& p : Points)
        p->SaveToWriter(w);
}

void TTimeData::LoadFromReader(TValueReader& r) {
    Clear();
    VersionRead = r.ReadInteger();
    for (int32_t n = ReadCount(r); n > 0; --n)
        AppendPoint()->LoadFromReader(r);
    // Keys stay in time order, and a curve never ends up without one.
    SortPoints();
    EnsurePoint();
}

void TTimeDataSet::SaveToWriter(TValueWriter& w) const {
    w.WriteInteger(Version);
    w.WriteInteger(GetCount());
    for (const auto& c : Items) {
        w.WriteString(c->Key);
        c->SaveToWriter(w);
    }
}

void TTimeDataSet::LoadFromReader(TValueReader& r) {
    VersionRead = r.ReadInteger();
    for (int32_t n = ReadCount(r); n > 0; --n) {
        std::string key = CutShortString(r.ReadString());
        if (TTimeData* c = FindByKey(key)) {
            c->LoadFromReader(r);
            c->Loaded = true;
        } else {
            // A curve this node does not have: read past it.
            TTimeData scratch(this);
            scratch.LoadFromReader(r);
        }
    }
}
