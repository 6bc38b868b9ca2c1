// The untyped containers under TList and TMap: a doubly linked list and a chained hash
// table that know nothing of what they hold. A type descriptor, one per instantiation of
// the templates, gives them the sizes and the operations (copy, assign, destroy, compare,
// hash) they need.
//
// Trade-offs, on purpose:
//  - An element lives inside its list node, and a key and its value inside their map
//    entry, so each costs one block of the string allocator. The templates work out the
//    layout (the functions below); the untyped level only follows the descriptor.
//  - A map keeps the bucket count it was made with (17 unless asked otherwise) for its whole
//    life and never rehashes. Iteration goes bucket by bucket, each chain in insertion
//    order, so the order depends only on the keys' hashes and the order of insertion; some
//    output of the library lists maps in exactly that order.
//  - A map's bucket array is made on its first insert: an empty map holds no block.
//  - The descriptor of an instantiation is made by its first container and freed by its
//    last. Containers of one instantiation may live on different threads, so the shared
//    reference counts are changed under a lock; the containers themselves are not locked.
#ifndef KYRO_UTIL_C_CONTAINER_H
#define KYRO_UTIL_C_CONTAINER_H

#include <cstddef>
#include <cstdint>
#include <new>

namespace kyro::ccont {

// ---- Operations of a stored type -----------------------------------------------------

using CreateFn = void (*)(void* storage, const void* source);  // a copy in raw storage
using AssignFn = void (*)(void* target, const void* source);
using DestroyFn = void (*)(void* object);                       // ends it; frees nothing
using EqualFn = bool (*)(const void* a, const void* b);
using HashFn = std::uint32_t (*)(const void* key);

template <class T>
void createCopy(void* storage, const void* source)
{
    ::new (storage) T(*static_cast<const T*>(source));
}

template <class T>
void assignCopy(void* target, const void* source)
{
    *static_cast<T*>(target) = *static_cast<const T*>(source);
}

// The move forms: the source (passed as const void*, like every source here) is left
// moved-from. Used only for inserts the caller hands over.
template <class T>
void createMoved(void* storage, const void* source)
{
    ::new (storage) T(static_cast<T&&>(*static_cast<T*>(const_cast<void*>(source))));
}

template <class T>
void assignMoved(void* target, const void* source)
{
    *static_cast<T*>(target) = static_cast<T&&>(*static_cast<T*>(const_cast<void*>(source)));
}

template <class T>
void destroyObject(void* object)
{
    static_cast<T*>(object)->~T();
}

// ---- Layout --------------------------------------------------------------------------

// What every block of the string allocator is aligned to.
constexpr std::size_t kBlockAlignment = alignof(std::max_align_t) < 16 ? alignof(std::max_align_t) : 16;

constexpr std::size_t alignUp(std::size_t offset, std::size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

struct ListNode {
    ListNode* previous;
    ListNode* next;
    // the element follows at the descriptor's elementOffset
};

struct MapEntry {
    MapEntry* next;  // in the same bucket
    // the key and the value follow at the descriptor's offsets
};

constexpr std::size_t listElementOffset(std::size_t alignment)
{
    return alignUp(sizeof(ListNode), alignment);
}

constexpr std::size_t mapKeyOffset(std::size_t keyAlignment)
{
    return alignUp(sizeof(MapEntry), keyAlignment);
}

constexpr std::size_t mapValueOffset(std::size_t keySize, std::size_t keyAlignment,
                                     std::size_t valueAlignment)
{
    return alignUp(mapKeyOffset(keyAlignment) + keySize, valueAlignment);
}

// ---- Descriptors ---------------------------------------------------------------------

struct ListType {
    std::int32_t elementSize;
    std::int32_t elementOffset;  // from the start of the node
    CreateFn create;
    DestroyFn destroy;
    // Kept by the functions below.
    std::int32_t references;     // live lists using the descriptor
    ListType** home;             // the slot that names it, emptied when it is freed
};

struct MapType {
    std::int32_t keySize;
    std::int32_t valueSize;
    std::int32_t keyOffset;      // from the start of the entry
    std::int32_t valueOffset;
    EqualFn keyEqual;
    HashFn keyHash;
    CreateFn createKey;
    CreateFn createValue;
    AssignFn assignValue;
    CreateFn moveKey;            // the move forms, for inserts that hand their objects over
    CreateFn moveValue;
    AssignFn moveAssignValue;
    DestroyFn destroyKey;
    DestroyFn destroyValue;
    // Kept by the functions below.
    std::int32_t references;     // live maps using the descriptor
    MapType** home;
};

// The descriptor named by *slot, made from `prototype` (and named by the slot) when the slot
// is empty, with one more reference. Null when memory runs out.
ListType* acquireListType(ListType** slot, const ListType& prototype);
MapType* acquireMapType(MapType** slot, const MapType& prototype);

// Drops a reference; the last one frees the descriptor and empties its slot. Null is fine.
void releaseListType(ListType* type);
void releaseMapType(MapType* type);

// ---- List ----------------------------------------------------------------------------

struct List {
    ListNode* head;
    ListNode* tail;
    std::int32_t count;
    ListType* type;  // null only when memory ran out: the list then stays empty
};

void listInit(List* list, ListType* type);
// Deletes every element and drops the list's use of its descriptor.
void listDestroy(List* list);
// Appends a copy of *element. False when memory runs out.
bool listAppend(List* list, const void* element);
// The node at `index`; null when the index is below 0 or not below the count.
ListNode* listAt(const List* list, int index);
// Deletes the node's element and the node; returns the node that followed it.
ListNode* listRemove(List* list, ListNode* node);
void listClear(List* list);
// Makes the target a copy of the source, in order. False when memory ran out on the way.
bool listAssign(List* target, const List* source);

inline void* listElement(const ListType* type, ListNode* node)
{
    return reinterpret_cast<char*>(node) + type->elementOffset;
}

// ---- Hash map ------------------------------------------------------------------------

constexpr int kDefaultBuckets = 17;

struct Map {
    MapEntry** buckets;  // made on the first insert
    std::int32_t bucketCount;
    std::int32_t count;
    MapType* type;       // null only when memory ran out: the map then stays empty
};

// Where an iteration stands. The end has no entry and the bucket count as its bucket.
struct MapPosition {
    const Map* map;
    std::int32_t bucket;
    MapEntry* entry;
};

// `buckets` below 1 gives the default.
void mapInit(Map* map, MapType* type, int buckets);
// Deletes every key and value, the bucket array and the map's use of its descriptor.
void mapDestroy(Map* map);
// Insert or replace: an entry with an equal key keeps its key object and its place in the
// order and gets the value assigned; otherwise a new entry goes at the end of its bucket's
// chain. Returns the entry's position; the end when memory runs out.
MapPosition mapInsert(Map* map, const void* key, const void* value);
// The same, moving from key and value instead of copying them.
MapPosition mapInsertMoved(Map* map, void* key, void* value);
MapPosition mapFind(const Map* map, const void* key);
// False when no entry has the key.
bool mapRemove(Map* map, const void* key);
// Removes the entry at `position` and returns the position of the entry that followed it.
// A position at the end, or of another map, removes nothing and gives the end.
MapPosition mapRemoveAt(Map* map, const MapPosition& position);
void mapClear(Map* map);
// Makes the target a copy of the source: its bucket count, then the source's entries in
// the source's order. False when memory ran out on the way.
bool mapAssign(Map* target, const Map* source);

MapPosition mapBegin(const Map* map);
MapPosition mapEnd(const Map* map);
void mapAdvance(MapPosition* position);  // stays at the end once there

inline bool mapSamePosition(const MapPosition& a, const MapPosition& b)
{
    return a.map == b.map && a.entry == b.entry;
}

}  // namespace kyro::ccont

#endif
