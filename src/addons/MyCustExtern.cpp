#include "MyCustExtern.h"

#include "MyCommonParams.h"
#include "MyValueStream.h"

TCustomExtern::TCustomExtern() : ID(NewGuidText()) {}

void TCustomExtern::WriteData(TValueWriter& writer) const {
    writer.WriteString(ID);
}

void TCustomExtern::ReadData(TValueReader& reader) {
    ID = reader.ReadString();
}
