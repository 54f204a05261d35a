// Node records of the project file: the common part every node writes, with its children,
// curves and pegs, and the parts the node classes add before and after it.
#include <cmath>

#include "MyProjNode.h"
#include "MyTreeNode.h"
#include "MyValueStream.h"

Extended ReadFiniteFloat(TValueReader& reader) {
    const size_t at = reader.GetPosition();
    Extended v = reader.ReadFloat();
    if (!std::isfinite(v))
        reader.Fail("Invalid property value", at);
    return v;
}

int32_t ReadCount(TValueReader& reader) {
    const size_t at = reader.GetPosition();
    int32_t n = reader.ReadInteger();
    if (n < 0 || static_cast<size_t>(n) > reader.GetRemaining())
        reader.Fail("Invalid item count", at);
    return n;
}

void TTreeNodeData::SaveToWriter(TValueWriter& w) const {
    WriteBefore(w);
    w.WriteChar(static_cast<char>(Kind));
    w.WriteString(Id);
    w.WriteFloat(Offset);
    w.WriteBoolean(AutoDuration);
    w.WriteFloat(UserDuration);
    w.WriteBoolean(Enabled);
    w.WriteBoolean(PositionLocked);
    w.WriteBoolean(Sealed);
    w.WriteInteger(static_cast<int32_t>(Description.size()));
    for (const auto& line : Description)
        w.WriteString(line);
    if (StoresChildren()) {
        w.WriteInteger(GetChildCount());
        for (int i = 0; i < GetChildCount(); ++i) {
            const TTreeNodeData* c = GetChild(i);
            w.WriteChar(static_cast<char>(c->Kind));
            w.WriteString(c->GetCaption());
            c->SaveToWriter(w);
        }
    }
    WriteCurves(w);
    w.WriteInteger(static_cast<int32_t>(Color));
    Pegs->SaveToWriter(w);
    if (SaveFileName)
        w.WriteFileName(GetStoredFileName());
    WriteAfter(w);
}

void TTreeNodeData::ReadRecord(TValueReader& r, int depth) {
    if (depth > MaxNodeDepth)
        r.Fail("Project nesting too deep", r.GetPosition());
    ReadBefore(r);
    const size_t kindAt = r.GetPosition();
    const uint8_t stored = static_cast<uint8_t>(r.ReadChar());
    // The class made by the factory decides the kind; the stored one must agree with it, except
    // that a sub-project reads the root record of its own file.
    if (stored != Kind && !(Kind == nkSubProject && stored == nkProject))
        r.Fail("Node kind does not match its record", kindAt);
    Id = r.ReadString();
    Offset = ReadFiniteFloat(r);
    AutoDuration = r.ReadBoolean();
    UserDuration = ReadFiniteFloat(r);
    Enabled = r.ReadBoolean();
    PositionLocked = r.ReadBoolean();
    Sealed = r.ReadBoolean();
    Description.clear();
    for (int32_t n = ReadCount(r); n > 0; --n)
        Description.push_back(r.ReadString());
    if (stored != nkSubProject) {
        for (int32_t n = ReadCount(r); n > 0; --n) {
            const uint8_t kind = static_cast<uint8_t>(r.ReadChar());
            const std::string caption = r.ReadString();
            TTreeNodeData* child = AddNode(caption, amLastChild, kind);
            child->RecordsAfter = n - 1;
            child->ReadRecord(r, depth + 1);
            child->RecordsAfter = 0;
        }
    }
    ReadCurves(r);
    Color = static_cast<uint32_t>(r.ReadInteger());
    Pegs->LoadFromReader(r);
    if (SaveFileName)
        SetFileName(r.ReadFileName());
    ReadAfter(r);
}

void TTreeNodeData::WriteCurves(TValueWriter& w) const {
    Curves->SaveToWriter(w);
}

void TTreeNodeData::ReadCurves(TValueReader& r) {
    Curves->LoadFromReader(r);
}

// ---- values of unknown number -----------------------------------------------------------------

// Reading ahead, only the two Boolean tags count as a Boolean: anything else means the values
// were not the ones expected.
static bool ReadExactBoolean(TValueReader& r) {
    const uint8_t tag = r.NextValue();
    if (tag != vaTrue && tag != vaFalse)
        r.Fail("Invalid property value", r.GetPosition());
    return r.ReadBoolean();
}

static void ReadVersionOne(TValueReader& r) {
    const size_t at = r.GetPosition();
    if (r.ReadInteger() != 1)
        r.Fail("Invalid property value", at);
}

// The head of a child record as its parent writes it: kind, caption, the class part before the
// common record, and the common record up to its description count.
static void ReadChildHead(TValueReader& r) {
    const size_t at = r.GetPosition();
    const auto kind = static_cast<uint8_t>(r.ReadChar());
    if (kind < nkProject || kind > nkWarp || kind == 8)
        r.Fail("Invalid property value", at);
    r.ReadString(); // caption
    if (kind == nkFilter || kind == nkTransition || kind == nkOverlay || kind == nkProject ||
        kind == nkSubProject)
        r.ReadString(); // add-on identifier or sub-project file
    const auto stored = static_cast<uint8_t>(r.ReadChar());
    if (stored != (kind == nkProject ? uint8_t(nkSubProject) : kind))
        r.Fail("Invalid property value", at);
    r.ReadString(); // Id
    ReadFiniteFloat(r);
    ReadExactBoolean(r);
    ReadFiniteFloat(r);
    for (int k = 0; k < 3; ++k)
        ReadExactBoolean(r);
    ReadCount(r);
}

// The end of a common record from the curve set on: curves, colour, pegs and the file name.
static void ReadRecordTail(TValueReader& r, bool fileName) {
    ReadVersionOne(r); // curve set
    for (int32_t n = ReadCount(r); n > 0; --n) {
        r.ReadString(); // key
        ReadVersionOne(r);
        for (int32_t points = ReadCount(r); points > 0; --points) {
            ReadVersionOne(r);
            ReadFiniteFloat(r); // time
            r.ReadInteger();    // value
            ReadExactBoolean(r);
            ReadVersionOne(r); // font
            for (int k = 0; k < 4; ++k)
                r.ReadInteger(); // reserved, size, style, colour
            r.ReadString();      // name
            ReadFiniteFloat(r);
            ReadExactBoolean(r);
            for (int32_t lines = ReadCount(r); lines > 0; --lines)
                r.ReadString();
        }
    }
    r.ReadInteger(); // colour
    for (int32_t n = ReadCount(r); n > 0; --n) {
        ReadFiniteFloat(r);
        ReadExactBoolean(r);
    }
    if (fileName)
        r.ReadFileName();
}

// Whether the value at the probe's position may begin what follows: a child's head begins with
// its kind, a record's tail with the curve set's version. Most misplaced starts are turned away
// here, without a trial read.
static bool MayBeginFollowers(const TValueReader& probe, int32_t recordsAfter) {
    if (probe.AtEnd())
        return false;
    const uint8_t tag = probe.NextValue();
    if (recordsAfter > 0)
        return tag == vaString || tag == vaLString || tag == vaUTF8String || tag == vaWString;
    return tag == vaInt8 || tag == vaInt16 || tag == vaInt32;
}

// Whether what the file must hold after this node's record reads from the probe's position: the
// next sibling's head, or the rest of the parent's record (with a durable parent's clip range).
// reach is how far the trial read got.
static bool FollowersRead(TValueReader probe, const TTreeNodeData& node, int32_t recordsAfter,
                          size_t& reach) {
    const TTreeNodeData* parent = node.GetParent();
    const size_t start = probe.GetPosition();
    if (!parent && recordsAfter <= 0)
        return probe.AtEnd();
    if (!MayBeginFollowers(probe, recordsAfter))
        return false;
    try {
        if (recordsAfter > 0) {
            ReadChildHead(probe);
        } else {
            ReadRecordTail(probe, parent->SaveFileName);
            if (dynamic_cast<const TCustomDurableNode*>(parent)) {
                ReadExactBoolean(probe);
                ReadFiniteFloat(probe);
                ReadExactBoolean(probe);
                ReadFiniteFloat(probe);
            }
        }
        return true;
    } catch (const Exception&) {
        reach = probe.GetPosition() - start;
        return false;
    }
}

// Trials that fail may read this many bytes for each byte of the values stepped over, and a
// little more: enough for any add-on's record, while a crafted one cannot make the search read
// the file over and over.
constexpr size_t TrialBytesPerValueByte = 16;
constexpr size_t TrialBytesSlack = 4096;

size_t TTreeNodeData::FindEndOfStoredValues(const TValueReader& reader) const {
    const size_t start = reader.GetPosition();
    TValueReader probe = reader;
    size_t values = 0;
    size_t trialBytes = 0;
    for (;;) {
        size_t reach = 0;
        if (FollowersRead(probe, *this, RecordsAfter, reach))
            return probe.GetPosition();
        if (probe.AtEnd())
            reader.Fail("Values of unknown length run to the end of the file", start);
        trialBytes += reach;
        const size_t stepped = probe.GetPosition() - start;
        if (++values > MaxUnknownAddOnValues ||
            trialBytes > TrialBytesPerValueByte * stepped + TrialBytesSlack)
            reader.Fail("Too many values stored for an unknown add-on", start);
        probe.SkipValue();
    }
}

// ---- class parts ------------------------------------------------------------------------------

void TCustomDurableNode::WriteAfter(TValueWriter& w) const {
    ClipRange.SaveToWriter(w);
}
void TCustomDurableNode::ReadAfter(TValueReader& r) {
    ClipRange.LoadFromReader(r);
}
