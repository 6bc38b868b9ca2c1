// The handle numbers both pipe backends give out for their pipe objects. Shared by the
// backends; no system calls here.
#ifndef KYRO_PLATFORM_HANDLE_TABLE_H
#define KYRO_PLATFORM_HANDLE_TABLE_H

#include "kyro/platform/named_pipe.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kyro::platform {

// Handle numbers: slot index + 1 in the low bits, the slot's generation above, so that a
// closed handle never finds the object that reuses its slot.
template <class T>
class HandleTable {
public:
    PipeHandle add(std::shared_ptr<T> object)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        try {
            std::size_t index;
            if (!m_free.empty()) {
                index = m_free.back();
                m_free.pop_back();
            } else {
                if (m_slots.size() >= kIndexMask - 1)
                    return kNoPipe;
                m_slots.emplace_back();
                index = m_slots.size() - 1;
            }
            Slot& slot = m_slots[index];
            slot.object = std::move(object);
            slot.generation = slot.generation % kMaxGeneration + 1;
            return static_cast<PipeHandle>(slot.generation) << kIndexBits |
                   static_cast<PipeHandle>(index + 1);
        } catch (...) {
            return kNoPipe;
        }
    }

    std::shared_ptr<T> find(PipeHandle handle)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Slot* slot = lookup(handle);
        return slot != nullptr ? slot->object : nullptr;
    }

    std::shared_ptr<T> remove(PipeHandle handle)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Slot* slot = lookup(handle);
        if (slot == nullptr)
            return nullptr;
        std::shared_ptr<T> object = std::move(slot->object);
        slot->object.reset();
        try {
            m_free.push_back(static_cast<std::size_t>(handle & kIndexMask) - 1);
        } catch (...) {
            // The slot is lost; nothing else is.
        }
        return object;
    }

private:
    static constexpr int kIndexBits = 20;
    static constexpr PipeHandle kIndexMask = (PipeHandle(1) << kIndexBits) - 1;
    static constexpr std::uint32_t kMaxGeneration = 0x7FFFFFFF;

    struct Slot {
        std::shared_ptr<T> object;
        std::uint32_t generation = 0;
    };

    Slot* lookup(PipeHandle handle)
    {
        if (handle <= 0)
            return nullptr;
        const PipeHandle index = (handle & kIndexMask) - 1;
        if (index < 0 || static_cast<std::size_t>(index) >= m_slots.size())
            return nullptr;
        Slot& slot = m_slots[static_cast<std::size_t>(index)];
        if (slot.object == nullptr ||
            static_cast<PipeHandle>(slot.generation) != (handle >> kIndexBits))
            return nullptr;
        return &slot;
    }

    std::mutex m_lock;
    std::vector<Slot> m_slots;
    std::vector<std::size_t> m_free;
};

}  // namespace kyro::platform

#endif
