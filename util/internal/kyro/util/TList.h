// TList: a doubly linked list of copies, over the untyped list of c_container.h. Each
// element lives in its node, so a reference to it stays valid until that element is removed.
//
//     for (TList<TStr>::Iterator it = list.first(); !it.atEnd(); it.advance()) use(it.current());
//     for (TStr& text : list) use(text);
#ifndef KYRO_UTIL_TLIST_H
#define KYRO_UTIL_TLIST_H

#include "kyro/util/c_container.h"

#include <new>

template <class T>
class TList {
    using Node = kyro::ccont::ListNode;

public:
    class Iterator {
    public:
        Iterator() = default;

        T& current() const { return *elementOf(m_node); }  // not at the end
        void advance()
        {
            if (m_node != nullptr)
                m_node = m_node->next;
        }
        bool atEnd() const { return m_node == nullptr; }
        bool operator==(const Iterator& other) const
        {
            return m_list == other.m_list && m_node == other.m_node;
        }
        bool operator!=(const Iterator& other) const { return !(*this == other); }

        // For range-for.
        T& operator*() const { return current(); }
        Iterator& operator++()
        {
            advance();
            return *this;
        }

    private:
        friend class TList;
        Iterator(const TList* list, Node* node) : m_list(list), m_node(node) {}

        const TList* m_list = nullptr;
        Node* m_node = nullptr;
    };

    TList() { kyro::ccont::listInit(&m_list, acquireType()); }
    TList(const TList& other) : TList() { kyro::ccont::listAssign(&m_list, &other.m_list); }
    TList& operator=(const TList& other)
    {
        kyro::ccont::listAssign(&m_list, &other.m_list);
        return *this;
    }
    virtual ~TList() { kyro::ccont::listDestroy(&m_list); }

    // A copy at the tail; nothing happens when memory runs out.
    void append(const T& element) { kyro::ccont::listAppend(&m_list, &element); }
    int count() const { return m_list.count; }
    void clear() { kyro::ccont::listClear(&m_list); }

    Iterator first() const { return Iterator(this, m_list.head); }
    // The end when the index is below 0 or not below the count.
    Iterator at(int index) const { return Iterator(this, kyro::ccont::listAt(&m_list, index)); }
    // Returns the element that followed; the end, with nothing removed, for an iterator at
    // the end or of another list.
    Iterator remove(const Iterator& position)
    {
        if (position.m_list != this || position.m_node == nullptr)
            return end();
        return Iterator(this, kyro::ccont::listRemove(&m_list, position.m_node));
    }

    Iterator begin() const { return first(); }
    Iterator end() const { return Iterator(this, nullptr); }

private:
    static constexpr std::size_t kElementOffset = kyro::ccont::listElementOffset(alignof(T));

    static T* elementOf(Node* node)
    {
        return std::launder(reinterpret_cast<T*>(reinterpret_cast<char*>(node) + kElementOffset));
    }

    static kyro::ccont::ListType* acquireType()
    {
        static_assert(alignof(T) <= kyro::ccont::kBlockAlignment, "over-aligned element type");
        kyro::ccont::ListType prototype{};
        prototype.elementSize = static_cast<std::int32_t>(sizeof(T));
        prototype.elementOffset = static_cast<std::int32_t>(kElementOffset);
        prototype.create = &kyro::ccont::createCopy<T>;
        prototype.destroy = &kyro::ccont::destroyObject<T>;
        return kyro::ccont::acquireListType(&s_type, prototype);
    }

    // The descriptor of this instantiation while any of its lists lives.
    inline static kyro::ccont::ListType* s_type = nullptr;

    kyro::ccont::List m_list;
};

#endif
