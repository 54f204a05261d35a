// Key-framed curves: a node's parameters that change over time (position, level, sizing, text,
// colour, font, and for media nodes volume, balance and speed). A curve holds key points in time
// order and a current point with its value at the node's current local time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MyBase.h"
#include "MyCommonParams.h"

class TTimeData;
class TTimeDataSet;

// Value modes of a curve.
enum : uint8_t { vmLevel = 0, vmPosition = 1, vmText = 2, vmColor = 3, vmPick = 4, vmFont = 5 };
// Curve kinds.
enum : uint8_t {
    ckPosition = 1,
    ckSizing = 2, // also balance
    ckLevel = 3,  // also volume and speed
    ckText = 4,
    ckColor = 5,
    ckPick = 6,
    ckFont = 7,
};

// How two key values are blended.
enum class TBlendMode { Level, Position, Color };

class TDataPoint {
public:
    explicit TDataPoint(TTimeData* owner = nullptr) : Owner(owner) {}

    int32_t Version = 1;
    int32_t VersionRead = 0;
    TTimeData* Owner;
    TFontInfo Font;
    Extended Time = 0;
    int32_t Value = 0;
    bool Visible = true;
    std::vector<std::string> Lines;

    // Position in frame widths/heights, each within about +-5.0.
    void GetPosition(Extended& x, Extended& y) const;
    void SetPosition(Extended x, Extended y);
    Extended GetLevel() const { return static_cast<Extended>(Value) / 65535.0L; }
    void SetLevel(Extended level);
    int32_t GetRawValue() const { return Value; }
    void SetRawValue(int32_t v) { Value = v; }
    TFontInfo& GetFont() { return Font; }

    // Editor buttons: 0 zero, 1 copy the left neighbour, 2 blend the neighbours.
    bool PlaceValue(int mode);

    // Dest := Next's value at time t, blended with Previous when there is one.
    static bool InterpolateInto(const TDataPoint& next, TBlendMode mode, const TDataPoint* previous,
                                TDataPoint& dest, Extended t);

    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader);
};

// Blend of two key values at t; the later value when the interval is empty or ends at t.
Extended BlendValue(Extended tp, Extended vp, Extended tn, Extended vn, Extended t);

struct TCurveTemplate {
    std::string Key;
    std::string Caption;
    uint8_t ValueMode = 0;
    uint8_t Kind = 0;
    uint8_t TimeOnly = 0;
};

class TTimeData {
public:
    explicit TTimeData(TTimeDataSet* set = nullptr);

    int32_t Version = 1;
    int32_t VersionRead = 0;
    std::string Caption = "<No name time effect>";
    uint8_t ValueMode = vmLevel;
    uint8_t Kind = 0;
    std::string Key;
    bool Loaded = false;
    bool TimeOnly = false;
    TTimeDataSet* Set;
    bool Stepped = false;
    TDataPoint CurrentPoint;

    bool GetEnabled() const { return Enabled; }
    void SetEnabled(bool b) { Enabled = b && !Caption.empty(); }

    int GetCount() const { return static_cast<int>(Points.size()); }
    TDataPoint* GetPoint(int i) const;
    int IndexOf(const TDataPoint* p) const;
    TDataPoint* AddNew(Extended t);
    bool UpdateCurrentPoint(Extended t);
    TDataPoint* FindPointAt(Extended t) const;
    // Removes every point (loading refills them).
    void Clear() { Points.clear(); }
    // Appends a point as read from a file; call SortPoints once all are in.
    TDataPoint* AppendPoint();
    void SortPoints();
    // Deletes point i; the last point is never deleted.
    bool DeletePoint(int i);
    // A curve always has a point: puts back the default one when it has none.
    void EnsurePoint();

    TBlendMode BlendModeFor(bool xyForOtherModes) const;

    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader);

private:
    bool Enabled = false;
    std::vector<std::unique_ptr<TDataPoint>> Points;
};

class TTimeDataSet {
public:
    TTimeDataSet() = default;
    virtual ~TTimeDataSet() = default;
    TTimeDataSet(const TTimeDataSet&) = delete;
    TTimeDataSet& operator=(const TTimeDataSet&) = delete;

    int32_t Version = 1;
    int32_t VersionRead = 0;
    Extended Time = 0;
    bool UsesPicture = false;

    virtual void SetTime(Extended t);
    int GetCount() const { return static_cast<int>(Items.size()); }
    TTimeData* GetItem(int i) const;
    TTimeData* AddFromTemplate(const TCurveTemplate& tmpl);
    TTimeData* FindByKey(const std::string& key) const;
    TTimeData* FindByKind(uint8_t kind) const;
    TTimeData* Register(uint8_t kind, const std::string& caption);
    bool HasEnabled() const;
    TTimeData* GetEnabledItem(int n) const;

    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader);

private:
    std::vector<std::unique_ptr<TTimeData>> Items;
};
