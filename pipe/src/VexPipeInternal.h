// Helpers the pipe framework's sources share.
#ifndef KYRO_PIPE_SRC_VEXPIPEINTERNAL_H
#define KYRO_PIPE_SRC_VEXPIPEINTERNAL_H

#include "kyro/pipe/VexBase.h"
#include "kyro/platform/user_interface.h"

namespace vexpipe {

// Holds a reference to a framework object for one scope.
class Hold {
public:
    explicit Hold(VexBase* object) : m_object(object)
    {
        if (m_object != nullptr)
            m_object->addRef();
    }
    ~Hold()
    {
        if (m_object != nullptr)
            m_object->release();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    VexBase* m_object;
};

// Lets the companion bring its window to the front; nothing happens without a window system.
inline void allowCompanionForeground()
{
    kyro::platform::allowSetForegroundWindow();
}

}  // namespace vexpipe

#endif
