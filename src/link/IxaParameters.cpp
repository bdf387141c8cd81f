// Controller parameters: the generic get/set exchanges and the typed accessors built on them.

#include "link/IxaInterface.h"

#include "link/WireFormat.h"

namespace {

AnsiString Indexed(const AnsiString& name, int index) {
    return name + "? " + std::to_string(index);
}

} // namespace

AnsiString TIxaInterface::GetStringProp(const AnsiString& name) {
    TLinkLock lock(*this);
    SendString(name + "?");
    return StringReply();
}

int TIxaInterface::GetIntProp(const AnsiString& name) {
    TLinkLock lock(*this);
    SendString(name + "?");
    return IntReply();
}

double TIxaInterface::GetRealProp(const AnsiString& name) {
    TLinkLock lock(*this);
    SendString(name + "?");
    return RealReply();
}

AnsiString TIxaInterface::GetStringArrayProp(const AnsiString& name, int index) {
    TLinkLock lock(*this);
    SendString(Indexed(name, index));
    return StringReply();
}

int TIxaInterface::GetIntArrayProp(const AnsiString& name, int index) {
    TLinkLock lock(*this);
    SendString(Indexed(name, index));
    return IntReply();
}

double TIxaInterface::GetRealArrayProp(const AnsiString& name, int index) {
    TLinkLock lock(*this);
    SendString(Indexed(name, index));
    return RealReply();
}

void TIxaInterface::SetStringProp(const AnsiString& name, const AnsiString& value) {
    TLinkLock lock(*this);
    SendString(name + " " + value);
    VoidReply();
}

void TIxaInterface::SetIntProp(const AnsiString& name, int value) {
    TLinkLock lock(*this);
    SendString(name + " " + std::to_string(value));
    VoidReply();
}

void TIxaInterface::SetRealProp(const AnsiString& name, double value) {
    TLinkLock lock(*this);
    SendString(name + " " + FormatReal3(value));
    VoidReply();
}

void TIxaInterface::SetIntArrayProp(const AnsiString& name, int index, int value) {
    TLinkLock lock(*this);
    SendString(name + " " + std::to_string(index) + " " + std::to_string(value));
    VoidReply();
}

void TIxaInterface::SetRealArrayProp(const AnsiString& name, int index, double value) {
    TLinkLock lock(*this);
    SendString(name + " " + std::to_string(index) + " " + FormatReal3(value));
    VoidReply();
}

AnsiString TIxaInterface::GetVersion() {
    return GetStringProp("VER");
}
AnsiString TIxaInterface::GetControllerName() {
    return GetStringProp("CN");
}
void TIxaInterface::SetControllerName(const AnsiString& value) {
    SetStringProp("CN", value);
}
AnsiString TIxaInterface::GetToolType() {
    return GetStringProp("TT");
}
void TIxaInterface::SetToolType(const AnsiString& value) {
    SetStringProp("TT", value);
}

int TIxaInterface::GetNetAddress() {
    return GetIntProp("NA");
}
void TIxaInterface::SetNetAddress(int value) {
    SetIntProp("NA", value);
}
int TIxaInterface::GetToolNumber() {
    return GetIntProp("TN");
}
void TIxaInterface::SetToolNumber(int value) {
    SetIntProp("TN", value);
}
int TIxaInterface::GetPositionLimit() {
    return GetIntProp("LIM");
}
int TIxaInterface::GetCommandForceInterface() {
    return GetIntProp("CFI");
}
void TIxaInterface::SetCommandForceInterface(int value) {
    SetIntProp("CFI", value);
}
int TIxaInterface::GetActiveRetractInterface() {
    return GetIntProp("ARI");
}
void TIxaInterface::SetActiveRetractInterface(int value) {
    SetIntProp("ARI", value);
}
int TIxaInterface::GetToolNumberInterface() {
    return GetIntProp("TNI");
}
void TIxaInterface::SetToolNumberInterface(int value) {
    SetIntProp("TNI", value);
}
void TIxaInterface::SetCommandForceLevel(int value) {
    SetIntProp("CFL", value);
}

int TIxaInterface::GetDinFunction(int index) {
    return GetIntArrayProp("DIF", index);
}
void TIxaInterface::SetDinFunction(int index, int value) {
    SetIntArrayProp("DIF", index, value);
}
int TIxaInterface::GetDoutFunction(int index) {
    return GetIntArrayProp("DOF", index);
}
void TIxaInterface::SetDoutFunction(int index, int value) {
    SetIntArrayProp("DOF", index, value);
}
int TIxaInterface::GetAoutFunction(int index) {
    return GetIntArrayProp("AOF", index);
}
void TIxaInterface::SetAoutFunction(int index, int value) {
    SetIntArrayProp("AOF", index, value);
}

double TIxaInterface::GetCommandForce() {
    return GetRealProp("CF");
}
void TIxaInterface::SetCommandForce(double value) {
    SetRealProp("CF", value);
}
double TIxaInterface::GetCommandPosition() {
    return GetRealProp("CP");
}
void TIxaInterface::SetCommandPosition(double value) {
    SetRealProp("CP", value);
}
double TIxaInterface::GetMaxForce() {
    return GetRealProp("MF");
}
double TIxaInterface::GetMaxWeight() {
    return GetRealProp("MW");
}
double TIxaInterface::GetMaxPosition() {
    return GetRealProp("MP");
}
double TIxaInterface::GetActualForce() {
    return GetRealProp("AF");
}
double TIxaInterface::GetPosition() {
    return GetRealProp("POS");
}
double TIxaInterface::GetSlideAcceleration() {
    return GetRealProp("SA");
}
double TIxaInterface::GetCurrentToolWeight() {
    return GetRealProp("CTW");
}
double TIxaInterface::GetNegPositionLimit() {
    return GetRealProp("RLP");
}
void TIxaInterface::SetNegPositionLimit(double value) {
    SetRealProp("RLP", value);
}
double TIxaInterface::GetPosPositionLimit() {
    return GetRealProp("ELP");
}
void TIxaInterface::SetPosPositionLimit(double value) {
    SetRealProp("ELP", value);
}
double TIxaInterface::GetForceScale() {
    return GetRealProp("FS");
}
void TIxaInterface::SetForceScale(double value) {
    SetRealProp("FS", value);
}
double TIxaInterface::GetForceOffset() {
    return GetRealProp("FO");
}
void TIxaInterface::SetForceOffset(double value) {
    SetRealProp("FO", value);
}
double TIxaInterface::GetAccScale() {
    return GetRealProp("AS");
}
void TIxaInterface::SetAccScale(double value) {
    SetRealProp("AS", value);
}
double TIxaInterface::GetAccOffset() {
    return GetRealProp("AO");
}
void TIxaInterface::SetAccOffset(double value) {
    SetRealProp("AO", value);
}
double TIxaInterface::GetPosScale() {
    return GetRealProp("PS");
}
void TIxaInterface::SetPosScale(double value) {
    SetRealProp("PS", value);
}
double TIxaInterface::GetPosOffset() {
    return GetRealProp("PO");
}
void TIxaInterface::SetPosOffset(double value) {
    SetRealProp("PO", value);
}
double TIxaInterface::GetAin() {
    return GetRealProp("AIN");
}
double TIxaInterface::GetAout(int index) {
    return GetRealArrayProp("AOUT", index);
}
double TIxaInterface::GetContourForce(int index) {
    return GetRealArrayProp("CMF", index);
}
void TIxaInterface::SetContourForce(int index, double value) {
    SetRealArrayProp("CMF", index, value);
}
double TIxaInterface::GetToolWeight(int tool) {
    return GetRealArrayProp("TW", tool);
}
void TIxaInterface::SetToolWeight(int tool, double value) {
    SetRealArrayProp("TW", tool, value);
}
double TIxaInterface::GetForceLevel(int index) {
    return GetRealArrayProp("FL", index);
}
void TIxaInterface::SetForceLevel(int index, double value) {
    SetRealArrayProp("FL", index, value);
}

// Flags: true exactly when the controller answers 1.
bool TIxaInterface::GetToolConnected() {
    return GetIntProp("TC") == 1;
}
bool TIxaInterface::GetActive() {
    return GetIntProp("ACT") == 1;
}
void TIxaInterface::SetActive(bool value) {
    SetIntProp("ACT", value ? 1 : 0);
}
bool TIxaInterface::GetContourMode() {
    return GetIntProp("CM") == 1;
}
void TIxaInterface::SetContourMode(bool value) {
    SetIntProp("CM", value ? 1 : 0);
}
bool TIxaInterface::GetPositionMode() {
    return GetIntProp("PM") == 1;
}
void TIxaInterface::SetPositionMode(bool value) {
    SetIntProp("PM", value ? 1 : 0);
}
bool TIxaInterface::GetEstop() {
    return GetIntProp("ES") == 1;
}
void TIxaInterface::SetEstop(bool value) {
    SetIntProp("ES", value ? 1 : 0);
}
bool TIxaInterface::GetSerialOverride() {
    return GetIntProp("SPO") == 1;
}
void TIxaInterface::SetSerialOverride(bool value) {
    SetIntProp("SPO", value ? 1 : 0);
}

void TIxaInterface::SetUnitTexts(bool english) {
    LengthUnits = english ? "In." : "mm";
    ForceUnits = english ? "Lbf." : "N";
    WeightUnits = english ? "Lb." : "kg";
}

bool TIxaInterface::GetEnglishUnits() {
    bool english = Connected ? GetIntProp("CU") == 1 : EnglishUnits;
    SetUnitTexts(english);
    return english;
}

void TIxaInterface::SetEnglishUnits(bool value) {
    EnglishUnits = value;
    if (Connected)
        SetIntProp("CU", value ? 1 : 0);
    SetUnitTexts(EnglishUnits);
}

// Digital I/O snapshots exist from version 4.2 on; older controllers (and no controller) give 0.
int TIxaInterface::GetAllDins() {
    return Version > 4.1 ? GetIntProp("RDI") : 0;
}
int TIxaInterface::GetAllDouts() {
    return Version > 4.1 ? GetIntProp("RDO") : 0;
}

TStringList& TIxaInterface::LoadFunctionNames(TStringList& list, const char* countName,
                                              const char* nameName) {
    int count = GetIntProp(countName);
    list.clear();
    if (count < 0 || count > MaxFunctionNames)
        throw EIxaInterface(TLinkError::CommunicationError);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            CheckBetweenExchanges();
        list.push_back(GetStringArrayProp(nameName, i));
    }
    return list;
}

TStringList& TIxaInterface::GetDinFunctions() {
    return LoadFunctionNames(DinFunctionNames, "NDIF", "DIFD");
}
TStringList& TIxaInterface::GetDoutFunctions() {
    return LoadFunctionNames(DoutFunctionNames, "NDOF", "DOFD");
}
TStringList& TIxaInterface::GetAoutFunctions() {
    return LoadFunctionNames(AoutFunctionNames, "NAOF", "AOFD");
}
