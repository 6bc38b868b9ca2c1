// The clean-up registry and the lock that keeps first use of singletons to one thread.
#include "kyro/util/CKyroUtilCleanup.h"

#include <mutex>
#include <new>

namespace {

// One recursive lock for the registry and for singleton creation: a singleton's
// constructor may ask for another singleton, and a clean-up may run while the registry
// walks its records. Never destroyed, so clean-ups at exit can still take it; built in
// static storage rather than on the heap, so that a host that unloads the library does
// not lose it (one lock per load).
std::recursive_mutex& registryLock()
{
    alignas(std::recursive_mutex) static unsigned char storage[sizeof(std::recursive_mutex)];
    static std::recursive_mutex* const lock = new (storage) std::recursive_mutex;
    return *lock;
}

CKyroUtilObjectManager* g_global = nullptr;

}  // namespace

namespace kyro::util {
void lockSingletonCreation() { registryLock().lock(); }
void unlockSingletonCreation() { registryLock().unlock(); }
}  // namespace kyro::util

CKyroUtilCleanup::~CKyroUtilCleanup() = default;

void CKyroUtilCleanup::cleanup(void*)
{
    delete this;
}

CKyroUtilObjectManagerBase::~CKyroUtilObjectManagerBase() = default;

struct CKyroUtilObjectManager::Record {
    CKyroUtilCleanup* object;
    void* argument;
    Record* next;
};

CKyroUtilObjectManager::CKyroUtilObjectManager(bool deletesItself)
    : m_head(new Record{nullptr, nullptr, nullptr})  // the sentinel
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    m_deletesItself = deletesItself;
    if (g_global == nullptr)
        g_global = this;
    initialize();
}

CKyroUtilObjectManager::~CKyroUtilObjectManager()
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    m_deletesItself = false;
    runCleanups();
    while (m_head != nullptr) {
        Record* next = m_head->next;
        delete m_head;
        m_head = next;
    }
    if (g_global == this)
        g_global = nullptr;
}

int CKyroUtilObjectManager::initialize()
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    if (m_state > 1)
        return 1;
    m_state = 1;
    if (g_global == this)
        m_manager = this;
    m_state = 2;
    return 0;
}

int CKyroUtilObjectManager::runCleanups()
{
    std::unique_lock<std::recursive_mutex> guard(registryLock());
    if (m_state == 3)
        return -1;
    if (m_state == 4)
        return 1;
    m_state = 3;
    // Newest first: records are pushed in front of the head.
    for (Record* record = m_head; record->next != nullptr; record = record->next)
        record->object->cleanup(record->argument);
    m_state = 4;
    if (g_global == this)
        g_global = nullptr;
    if (m_deletesItself) {
        guard.unlock();
        delete this;
    }
    return 0;
}

int CKyroUtilObjectManager::registerCleanup(CKyroUtilCleanup* object, void* argument)
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    if (m_state >= 3)
        return -1;
    for (Record* record = m_head; record->next != nullptr; record = record->next) {
        if (record->object == object)
            return -1;
    }
    Record* record = new (std::nothrow) Record{object, argument, m_head};
    if (record == nullptr)
        return -1;
    m_head = record;
    return 0;
}

CKyroUtilObjectManager* CKyroUtilObjectManager::global()
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    return g_global;
}

int registerCleanup(CKyroUtilCleanup* object, void* argument)
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    CKyroUtilObjectManager* manager = g_global;
    if (manager == nullptr)
        manager = new (std::nothrow) CKyroUtilObjectManager(true);
    if (manager == nullptr)
        return -1;
    return manager->registerCleanup(object, argument);
}

void destroyGlobal()
{
    std::lock_guard<std::recursive_mutex> guard(registryLock());
    delete g_global;
    g_global = nullptr;
}
