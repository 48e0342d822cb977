#include <map>
#include <mutex>
#include <new>

#include "diag/trace_slot.h"

namespace flvdmx {
namespace {

// One module per process here, so a registry in this module is process-wide.
struct SlotEntry {
  TraceSlotData data{};
  int handles = 0;
  std::map<std::wstring, SlotEntry*>::iterator where;
};

// Never destroyed, so that a module closing its trace during exit finds them.
std::mutex& RegistryLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::map<std::wstring, SlotEntry*>& Registry() {
  static auto* registry = new std::map<std::wstring, SlotEntry*>;
  return *registry;
}

}  // namespace

TraceSlotHandle OpenTraceSlot(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto& registry = Registry();
  auto it = registry.find(name);
  if (it == registry.end()) {
    SlotEntry* entry = new (std::nothrow) SlotEntry;
    if (!entry) return nullptr;
    it = registry.emplace(name, entry).first;
    entry->where = it;
  }
  ++it->second->handles;
  return it->second;
}

TraceSlotData* MapTraceSlot(TraceSlotHandle handle) {
  return handle ? &static_cast<SlotEntry*>(handle)->data : nullptr;
}

void UnmapTraceSlot(TraceSlotData*) {}

void CloseTraceSlot(TraceSlotHandle handle) {
  if (!handle) return;
  std::lock_guard<std::mutex> guard(RegistryLock());
  SlotEntry* entry = static_cast<SlotEntry*>(handle);
  if (--entry->handles > 0) return;
  Registry().erase(entry->where);
  delete entry;
}

}  // namespace flvdmx
