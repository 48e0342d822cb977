// Where the tool gets the Orvex FLV Demultiplexer from: its registration, or
// the copy linked into the tool (whose trace settings the tool can set).
#pragma once

#include "platform/dshow.h"

namespace flvdmx::cli {

// Asks for the filter copy linked into the tool instead of the registered
// one, so that the tool's trace settings apply to it (Windows; Linux always
// uses the linked copy).
void UseLinkedFilter(bool bLinked);

// Creates the filter: through CoCreateInstance from its registration, or the
// linked copy's class factory (see UseLinkedFilter).
HRESULT CreateFlvFilter(IBaseFilter** ppFilter);

}  // namespace flvdmx::cli
