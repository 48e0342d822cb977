// DirectShow declarations, the one include point for them: result and event
// codes, reference time, media types, samples and allocators, filters, pins,
// the graph, seeking, the filter mappers and the platform's class identities.
// On Windows the SDK headers are used; elsewhere the interfaces are declared
// (in the dshow_*.h headers below) as abstract classes in the published method
// order with the published argument types.
#pragma once

#include "platform/com.h"

#ifdef _WIN32

#include <strmif.h>
#include <uuids.h>
#include <amvideo.h>
#include <mmreg.h>
#include <control.h>
#include <evcode.h>
#include <vfwmsgs.h>

#else  // !_WIN32

#include "platform/dshow_results.h"
#include "platform/dshow_samples.h"
#include "platform/dshow_filters.h"
#include "platform/dshow_registration.h"
#include "platform/dshow_control.h"
#include "platform/dshow_ids.h"

#endif  // _WIN32

// Identities of our own, the same on both builds.
namespace flvdmx {
// FLV byte stream subtype: FOURCC "QFLV".
inline constexpr GUID MEDIASUBTYPE_QFLV = FourccGuid(MakeFourcc('Q', 'F', 'L', 'V'));
}  // namespace flvdmx
