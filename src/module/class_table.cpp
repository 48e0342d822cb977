#include "module/class_table.h"

#include "flv/flv_dmx.h"
#include "module/module_ids.h"

namespace flvdmx {
namespace {

constexpr GUID kAnyFilter = {};

constexpr FilterPinMediaType kInputTypes[] = {
    {kMediaTypeStream, MEDIASUBTYPE_QFLV},
};

// The output pins' types depend on the file, so none are registered.
constexpr FilterPinSetup kFlvDmxPins[] = {
    {L"Input", false, false, false, false, kAnyFilter, L"", kInputTypes, 1},
    {L"Output", false, true, false, true, kAnyFilter, L"", nullptr, 0},
};

constexpr FilterSetup kFlvDmxSetup = {kClsidFlvDmx, kFlvDmxName, kMeritNormal, kFlvDmxPins, 2};

constexpr ClassTableEntry kEntries[] = {
    {kFlvDmxName, kClsidFlvDmx, &CFlvDmx::CreateInstance, nullptr, &kFlvDmxSetup},
};

constexpr ClassTable kClassTable = {kEntries, sizeof kEntries / sizeof kEntries[0]};

}  // namespace

const ClassTable& GetModuleClassTable() { return kClassTable; }

}  // namespace flvdmx
