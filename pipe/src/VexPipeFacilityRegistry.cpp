#include "kyro/pipe/VexPipeFacility.h"

#include <mutex>
#include <new>

namespace {

using Registry = TMap<TStr, VexPipeFacility*>;

// Conduits on different threads register, look up and drop facilities at the same time:
// the map and the registry's references are only touched under this lock. Every
// reference a caller gets through acquire() is given back under it too, since reference
// counts are plain integers.
std::mutex& registryLock()
{
    static std::mutex lock;
    return lock;
}

Registry* g_registry = nullptr;

// Under the lock.
bool removeLocked(const TStr& name)
{
    if (g_registry == nullptr)
        return false;
    const Registry::Iterator found = g_registry->find(name);
    if (found == g_registry->end())
        return false;
    VexPipeFacility* facility = found.value();
    g_registry->remove(found);
    if (facility != nullptr)
        facility->release();
    return true;
}

}  // namespace

bool VexPipeFacilityRegistry::add(VexPipeFacility* facility, const TStr& name)
{
    if (facility == nullptr)
        return false;
    const TStr key = name.isEmpty() ? facility->name() : name;
    std::lock_guard<std::mutex> guard(registryLock());
    if (g_registry == nullptr) {
        g_registry = new (std::nothrow) Registry(17);
        if (g_registry == nullptr)
            return false;
    }
    const Registry::Iterator found = g_registry->find(key);
    if (found != g_registry->end()) {
        VexPipeFacility* previous = found.value();
        if (previous == facility)
            return true;
        facility->addRef();
        found.value() = facility;
        if (previous != nullptr)
            previous->release();
        return true;
    }
    facility->addRef();
    if (g_registry->insert(key, facility) == g_registry->end()) {
        facility->release();
        return false;
    }
    return true;
}

bool VexPipeFacilityRegistry::remove(const TStr& name)
{
    std::lock_guard<std::mutex> guard(registryLock());
    return removeLocked(name);
}

void VexPipeFacilityRegistry::removeForConduit(const TStr& name)
{
    std::lock_guard<std::mutex> guard(registryLock());
    removeLocked(name);
    if (g_registry != nullptr && g_registry->count() == 0) {
        delete g_registry;
        g_registry = nullptr;
    }
}

VexPipeFacility* VexPipeFacilityRegistry::acquire(const TStr& name)
{
    std::lock_guard<std::mutex> guard(registryLock());
    if (g_registry == nullptr)
        return nullptr;
    const Registry::Iterator found = g_registry->find(name);
    if (found == g_registry->end() || found.value() == nullptr)
        return nullptr;
    found.value()->addRef();
    return found.value();
}

void VexPipeFacilityRegistry::release(VexPipeFacility* facility)
{
    if (facility == nullptr)
        return;
    std::lock_guard<std::mutex> guard(registryLock());
    facility->release();
}

TList<TStr> VexPipeFacilityRegistry::visibleNames()
{
    TList<TStr> names;
    std::lock_guard<std::mutex> guard(registryLock());
    if (g_registry == nullptr)
        return names;
    for (const auto& entry : *g_registry) {
        if (entry.value() != nullptr && !entry.value()->isHidden())
            names.append(entry.key());
    }
    return names;
}

bool VexPipeFacilityRegistry::contains(const TStr& name)
{
    std::lock_guard<std::mutex> guard(registryLock());
    return g_registry != nullptr && g_registry->find(name) != g_registry->end();
}

bool VexPipeFacilityRegistry::exists()
{
    std::lock_guard<std::mutex> guard(registryLock());
    return g_registry != nullptr;
}

int VexPipeFacilityRegistry::count()
{
    std::lock_guard<std::mutex> guard(registryLock());
    return g_registry != nullptr ? g_registry->count() : 0;
}
