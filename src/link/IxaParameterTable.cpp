#include "link/IxaParameterTable.h"

#include <cctype>
#include <cstring>

using K = TIxaValueKind;

const TIxaParameter IxaParameters[] = {
    {"VER", "GetVersion", "", K::String, false, "controller version text"},
    {"CN", "GetControllerName", "SetControllerName", K::String, false, "controller (network) name"},
    {"TT", "GetToolType", "SetToolType", K::String, false, "tool type text"},
    {"NA", "GetNetAddress", "SetNetAddress", K::Int, false, "the controller's own network address"},
    {"TN", "GetToolNumber", "SetToolNumber", K::Int, false, "selected tool"},
    {"LIM", "GetPositionLimit", "", K::Int, false, "position limit value"},
    {"CFI", "GetCommandForceInterface", "SetCommandForceInterface", K::Int, false,
     "interface that supplies the command force"},
    {"ARI", "GetActiveRetractInterface", "SetActiveRetractInterface", K::Int, false,
     "interface that supplies activate/retract"},
    {"TNI", "GetToolNumberInterface", "SetToolNumberInterface", K::Int, false,
     "interface that supplies the tool number"},
    {"CFL", "", "SetCommandForceLevel", K::Int, false, "select a stored force level as command force"},
    {"DIF", "GetDinFunction", "SetDinFunction", K::Int, true, "function of digital input I"},
    {"DOF", "GetDoutFunction", "SetDoutFunction", K::Int, true, "function of digital output I"},
    {"AOF", "GetAoutFunction", "SetAoutFunction", K::Int, true, "function of analogue output I"},
    {"CF", "GetCommandForce", "SetCommandForce", K::Real, false, "command force"},
    {"CP", "GetCommandPosition", "SetCommandPosition", K::Real, false, "command position"},
    {"MF", "GetMaxForce", "", K::Real, false, "maximum force"},
    {"MW", "GetMaxWeight", "", K::Real, false, "maximum tool weight"},
    {"MP", "GetMaxPosition", "", K::Real, false, "maximum position"},
    {"AF", "GetActualForce", "", K::Real, false, "measured force"},
    {"POS", "GetPosition", "", K::Real, false, "measured position"},
    {"SA", "GetSlideAcceleration", "", K::Real, false, "slide acceleration"},
    {"CTW", "GetCurrentToolWeight", "", K::Real, false, "weight of the current tool"},
    {"RLP", "GetNegPositionLimit", "SetNegPositionLimit", K::Real, false, "negative position limit"},
    {"ELP", "GetPosPositionLimit", "SetPosPositionLimit", K::Real, false, "positive position limit"},
    {"FS", "GetForceScale", "SetForceScale", K::Real, false, "force signal scale"},
    {"FO", "GetForceOffset", "SetForceOffset", K::Real, false, "force signal offset"},
    {"AS", "GetAccScale", "SetAccScale", K::Real, false, "acceleration signal scale"},
    {"AO", "GetAccOffset", "SetAccOffset", K::Real, false, "acceleration signal offset"},
    {"PS", "GetPosScale", "SetPosScale", K::Real, false, "position signal scale"},
    {"PO", "GetPosOffset", "SetPosOffset", K::Real, false, "position signal offset"},
    {"AIN", "GetAin", "", K::Real, false, "analogue input"},
    {"AOUT", "GetAout", "", K::Real, true, "analogue output I"},
    {"CMF", "GetContourForce", "SetContourForce", K::Real, true, "contour mode force at point I"},
    {"TW", "GetToolWeight", "SetToolWeight", K::Real, true, "stored weight of tool I"},
    {"FL", "GetForceLevel", "SetForceLevel", K::Real, true, "stored force level I"},
    {"TC", "GetToolConnected", "", K::Flag, false, "a tool is connected"},
    {"ACT", "GetActive", "SetActive", K::Flag, false, "activated (1) or retracted (0)"},
    {"CM", "GetContourMode", "SetContourMode", K::Flag, false, "contour mode on"},
    {"PM", "GetPositionMode", "SetPositionMode", K::Flag, false, "position mode on"},
    {"ES", "GetEstop", "SetEstop", K::Flag, false, "emergency stop"},
    {"SPO", "GetSerialOverride", "SetSerialOverride", K::Flag, false, "serial port override"},
    {"CU", "GetEnglishUnits", "SetEnglishUnits", K::Flag, false, "English (1) or metric (0) units"},
    {"RDI", "GetAllDins", "", K::Int, false, "all digital inputs as one bit set"},
    {"RDO", "GetAllDouts", "", K::Int, false, "all digital outputs as one bit set"},
};
const size_t IxaParameterCount = sizeof(IxaParameters) / sizeof(IxaParameters[0]);

namespace {
bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "GetForceLevel" without its three-letter prefix.
std::string_view Stem(const char* method) {
    return std::strlen(method) > 3 ? std::string_view(method + 3) : std::string_view();
}
} // namespace

const TIxaParameter* FindIxaParameter(std::string_view name) {
    if (name.empty())
        return nullptr;
    for (const TIxaParameter& p : IxaParameters) {
        if (SameText(name, p.Mnemonic) || SameText(name, p.GetMethod) || SameText(name, p.SetMethod))
            return &p;
        const std::string_view stem = *p.GetMethod ? Stem(p.GetMethod) : Stem(p.SetMethod);
        if (SameText(name, stem))
            return &p;
    }
    return nullptr;
}
