#include "kyro/int/host_context.h"

#include <mutex>

namespace kyrointutil {
namespace {

struct HostContext {
    std::mutex lock;
    TStr locale{""};
    IdleHook idleHook = nullptr;
    void* idleContext = nullptr;
    DialogStateHook stateHook = nullptr;
    void* stateContext = nullptr;
};

// Never destroyed: requests from threads that outlive static destruction still find it.
HostContext& context()
{
    static HostContext* const instance = new HostContext;
    return *instance;
}

}  // namespace

void setLocale(const TStr& locale)
{
    std::lock_guard<std::mutex> guard(context().lock);
    context().locale = locale.isNull() ? TStr("") : locale;
}

TStr locale()
{
    std::lock_guard<std::mutex> guard(context().lock);
    return context().locale;
}

void setIdleHook(IdleHook hook, void* hookContext)
{
    std::lock_guard<std::mutex> guard(context().lock);
    context().idleHook = hook;
    context().idleContext = hookContext;
}

void setDialogStateHook(DialogStateHook hook, void* hookContext)
{
    std::lock_guard<std::mutex> guard(context().lock);
    context().stateHook = hook;
    context().stateContext = hookContext;
}

void callIdleHook()
{
    IdleHook hook;
    void* hookContext;
    {
        std::lock_guard<std::mutex> guard(context().lock);
        hook = context().idleHook;
        hookContext = context().idleContext;
    }
    // Called without the lock: the hook may set the context itself.
    if (hook != nullptr)
        hook(hookContext);
}

void callDialogStateHook(int state)
{
    DialogStateHook hook;
    void* hookContext;
    {
        std::lock_guard<std::mutex> guard(context().lock);
        hook = context().stateHook;
        hookContext = context().stateContext;
    }
    if (hook != nullptr) {
        int value = state;
        hook(&value, hookContext);
    }
}

}  // namespace kyrointutil
