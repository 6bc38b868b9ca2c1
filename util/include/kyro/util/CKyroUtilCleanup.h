// Process-wide objects and their orderly end.
//
// CKyroUtilSingleton<T> creates one T on first use and registers it with the process-wide
// clean-up registry (CKyroUtilObjectManager), which destroys the registered objects newest
// first when the library is unloaded. Everything the registry can destroy derives from
// CKyroUtilCleanup.
//
// Unlike the plain lazy pattern, first use is safe from several threads at once: creation
// runs under one process-wide (recursive) lock, so a T whose constructor asks for another
// singleton works, and two threads never make two instances.
#ifndef KYRO_UTIL_CKYROUTILCLEANUP_H
#define KYRO_UTIL_CKYROUTILCLEANUP_H

#include "kyro/export.h"

#include <atomic>

class KYRO_EXPORT CKyroUtilCleanup {
public:
    CKyroUtilCleanup() = default;
    CKyroUtilCleanup(const CKyroUtilCleanup&) {}
    CKyroUtilCleanup& operator=(const CKyroUtilCleanup&) { return *this; }
    virtual ~CKyroUtilCleanup();

    // Called by the registry at unload; deletes the object unless a subclass says otherwise.
    virtual void cleanup(void* argument);
};

// Registers `object` for `object->cleanup(argument)` at unload, with the process-wide
// registry (made when there is none). 0 when registered; -1 when the registry is running or
// has run its clean-ups, when the object is registered already, or when no record can be
// had. C linkage keeps the exported name plain for hosts that look it up at run time.
extern "C" KYRO_EXPORT int registerCleanup(CKyroUtilCleanup* object, void* argument);

// Deletes the process-wide registry, if there is one (running its clean-ups).
KYRO_EXPORT void destroyGlobal();

namespace kyro::util {
// The lock under which singletons are created; recursive.
KYRO_EXPORT void lockSingletonCreation();
KYRO_EXPORT void unlockSingletonCreation();
}  // namespace kyro::util

// The members are defined outside the class, so that an explicit instantiation exported
// from the library (as CKyroUtilSingleton<KyroLogger> is) exports them too: MinGW exports
// no member defined in the class body.
template <class T>
class CKyroUtilSingleton : public CKyroUtilCleanup {
public:
    // The one T, created (and registered for clean-up) on first use.
    static T& instance();

    void cleanup(void*) override;

protected:
    CKyroUtilSingleton() = default;
    static std::atomic<CKyroUtilSingleton*>& instance_i();

private:
    T m_instance;
    static std::atomic<CKyroUtilSingleton*> singleton_;
};

template <class T>
std::atomic<CKyroUtilSingleton<T>*> CKyroUtilSingleton<T>::singleton_{nullptr};

template <class T>
T& CKyroUtilSingleton<T>::instance()
{
    CKyroUtilSingleton* existing = singleton_.load(std::memory_order_acquire);
    if (existing != nullptr)
        return existing->m_instance;
    kyro::util::lockSingletonCreation();
    existing = singleton_.load(std::memory_order_acquire);
    if (existing == nullptr) {
        existing = new CKyroUtilSingleton();
        singleton_.store(existing, std::memory_order_release);
        // A refusal (the registry is shutting down) only means nobody deletes it.
        registerCleanup(existing, nullptr);
    }
    kyro::util::unlockSingletonCreation();
    return existing->m_instance;
}

template <class T>
void CKyroUtilSingleton<T>::cleanup(void*)
{
    kyro::util::lockSingletonCreation();
    if (singleton_.load(std::memory_order_acquire) == this)
        singleton_.store(nullptr, std::memory_order_release);
    kyro::util::unlockSingletonCreation();
    delete this;
}

template <class T>
std::atomic<CKyroUtilSingleton<T>*>& CKyroUtilSingleton<T>::instance_i()
{
    return singleton_;
}

// The clean-up registry. States: 0 constructed, 1 initialising, 2 ready, 3 running its
// clean-ups, 4 cleaned up. Registration is accepted in 0 to 2.
class CKyroUtilObjectManagerBase {
public:
    virtual ~CKyroUtilObjectManagerBase();
    virtual int initialize() = 0;
    virtual int runCleanups() = 0;

    int state() const { return m_state; }

protected:
    CKyroUtilObjectManagerBase() = default;

    int m_state = 0;
    bool m_deletesItself = false;
    CKyroUtilObjectManagerBase* m_manager = nullptr;
};

class CKyroUtilObjectManager : public CKyroUtilObjectManagerBase {
public:
    // Becomes the process-wide registry when there is none.
    explicit CKyroUtilObjectManager(bool deletesItself = false);
    ~CKyroUtilObjectManager() override;
    CKyroUtilObjectManager(const CKyroUtilObjectManager&) = delete;
    CKyroUtilObjectManager& operator=(const CKyroUtilObjectManager&) = delete;

    // 0 when it moved to state 2; 1 when it was past that already.
    int initialize() override;
    // Calls every recorded clean-up, newest first. 0 when it ran them; 1 when they have
    // run before; -1 when they are running (a clean-up that asks again).
    int runCleanups() override;

    // See ::registerCleanup; this registry's own record list.
    int registerCleanup(CKyroUtilCleanup* object, void* argument);

    // The process-wide registry, or null.
    static CKyroUtilObjectManager* global();

private:
    struct Record;
    Record* m_head;
};

#endif
