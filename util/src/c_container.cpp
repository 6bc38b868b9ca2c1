// The untyped list and hash table, and the shared descriptors of their instantiations.
#include "kyro/util/c_container.h"

#include "kyro/util/c_str.h"

#include <mutex>

namespace kyro::ccont {

// ---- Descriptors ---------------------------------------------------------------------

namespace {

std::mutex g_typeLock;

template <class Type>
Type* acquireShared(Type** slot, const Type& prototype)
{
    std::lock_guard<std::mutex> guard(g_typeLock);
    Type* type = *slot;
    if (type == nullptr) {
        void* block = cstr::allocateUnfilled(sizeof(Type));
        if (block == nullptr)
            return nullptr;
        type = ::new (block) Type(prototype);
        type->references = 0;
        type->home = slot;
        *slot = type;
    }
    ++type->references;
    return type;
}

template <class Type>
void releaseShared(Type* type)
{
    if (type == nullptr)
        return;
    std::lock_guard<std::mutex> guard(g_typeLock);
    if (--type->references > 0)
        return;
    if (*type->home == type)
        *type->home = nullptr;
    cstr::release(type);
}

}  // namespace

ListType* acquireListType(ListType** slot, const ListType& prototype)
{
    return acquireShared(slot, prototype);
}

MapType* acquireMapType(MapType** slot, const MapType& prototype)
{
    return acquireShared(slot, prototype);
}

void releaseListType(ListType* type)
{
    releaseShared(type);
}

void releaseMapType(MapType* type)
{
    releaseShared(type);
}

// ---- List ----------------------------------------------------------------------------

void listInit(List* list, ListType* type)
{
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    list->type = type;
}

void listDestroy(List* list)
{
    listClear(list);
    releaseListType(list->type);
    list->type = nullptr;
}

bool listAppend(List* list, const void* element)
{
    const ListType* type = list->type;
    if (type == nullptr)
        return false;
    void* block = cstr::allocateUnfilled(static_cast<std::size_t>(type->elementOffset) +
                                         static_cast<std::size_t>(type->elementSize));
    if (block == nullptr)
        return false;
    // The element is copied before the node is linked: it may be one of this list's own.
    auto* node = static_cast<ListNode*>(block);
    type->create(listElement(type, node), element);
    node->previous = list->tail;
    node->next = nullptr;
    (list->tail != nullptr ? list->tail->next : list->head) = node;
    list->tail = node;
    ++list->count;
    return true;
}

ListNode* listAt(const List* list, int index)
{
    if (index < 0 || index >= list->count)
        return nullptr;
    ListNode* node;
    if (index < list->count / 2) {
        node = list->head;
        for (int i = 0; i < index; ++i)
            node = node->next;
    } else {
        node = list->tail;
        for (int i = list->count - 1; i > index; --i)
            node = node->previous;
    }
    return node;
}

ListNode* listRemove(List* list, ListNode* node)
{
    ListNode* next = node->next;
    (node->previous != nullptr ? node->previous->next : list->head) = next;
    (next != nullptr ? next->previous : list->tail) = node->previous;
    --list->count;
    list->type->destroy(listElement(list->type, node));
    cstr::release(node);
    return next;
}

void listClear(List* list)
{
    for (ListNode* node = list->head; node != nullptr;) {
        ListNode* next = node->next;
        list->type->destroy(listElement(list->type, node));
        cstr::release(node);
        node = next;
    }
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
}

bool listAssign(List* target, const List* source)
{
    if (target == source)
        return true;
    listClear(target);
    for (ListNode* node = source->head; node != nullptr; node = node->next) {
        if (!listAppend(target, listElement(source->type, node)))
            return false;
    }
    return true;
}

// ---- Hash map ------------------------------------------------------------------------

namespace {

void* keyOf(const MapType* type, MapEntry* entry)
{
    return reinterpret_cast<char*>(entry) + type->keyOffset;
}

void* valueOf(const MapType* type, MapEntry* entry)
{
    return reinterpret_cast<char*>(entry) + type->valueOffset;
}

std::int32_t bucketOf(const Map* map, const void* key)
{
    // Taken as unsigned, so keys with a negative hash land in range.
    return static_cast<std::int32_t>(map->type->keyHash(key) %
                                     static_cast<std::uint32_t>(map->bucketCount));
}

bool makeBuckets(Map* map)
{
    if (map->buckets == nullptr) {
        map->buckets = static_cast<MapEntry**>(
            cstr::allocate(static_cast<std::size_t>(map->bucketCount) * sizeof(MapEntry*)));
    }
    return map->buckets != nullptr;
}

MapEntry* newEntry(const MapType* type, const void* key, const void* value, bool moved)
{
    void* block = cstr::allocateUnfilled(static_cast<std::size_t>(type->valueOffset) +
                                         static_cast<std::size_t>(type->valueSize));
    if (block == nullptr)
        return nullptr;
    auto* entry = static_cast<MapEntry*>(block);
    entry->next = nullptr;
    (moved ? type->moveKey : type->createKey)(keyOf(type, entry), key);
    (moved ? type->moveValue : type->createValue)(valueOf(type, entry), value);
    return entry;
}

void deleteEntry(const MapType* type, MapEntry* entry)
{
    type->destroyKey(keyOf(type, entry));
    type->destroyValue(valueOf(type, entry));
    cstr::release(entry);
}

// The first entry in `bucket` or a later one; the end when there is none.
MapPosition firstFrom(const Map* map, std::int32_t bucket)
{
    if (map->buckets != nullptr) {
        for (; bucket < map->bucketCount; ++bucket) {
            if (map->buckets[bucket] != nullptr)
                return {map, bucket, map->buckets[bucket]};
        }
    }
    return mapEnd(map);
}

}  // namespace

void mapInit(Map* map, MapType* type, int buckets)
{
    map->buckets = nullptr;
    map->bucketCount = buckets > 0 ? buckets : kDefaultBuckets;
    map->count = 0;
    map->type = type;
}

void mapDestroy(Map* map)
{
    mapClear(map);
    cstr::release(map->buckets);
    map->buckets = nullptr;
    releaseMapType(map->type);
    map->type = nullptr;
}

static MapPosition insertEntry(Map* map, const void* key, const void* value, bool moved)
{
    const MapType* type = map->type;
    if (type == nullptr || !makeBuckets(map))
        return mapEnd(map);
    const std::int32_t bucket = bucketOf(map, key);
    MapEntry** link = &map->buckets[bucket];
    for (; *link != nullptr; link = &(*link)->next) {
        if (type->keyEqual(keyOf(type, *link), key)) {
            // Assigned, not rebuilt: the value may be this very entry's own.
            (moved ? type->moveAssignValue : type->assignValue)(valueOf(type, *link), value);
            return {map, bucket, *link};
        }
    }
    MapEntry* entry = newEntry(type, key, value, moved);
    if (entry == nullptr)
        return mapEnd(map);
    *link = entry;
    ++map->count;
    return {map, bucket, entry};
}

MapPosition mapInsert(Map* map, const void* key, const void* value)
{
    return insertEntry(map, key, value, false);
}

MapPosition mapInsertMoved(Map* map, void* key, void* value)
{
    return insertEntry(map, key, value, true);
}

MapPosition mapFind(const Map* map, const void* key)
{
    if (map->count == 0)
        return mapEnd(map);
    const MapType* type = map->type;
    const std::int32_t bucket = bucketOf(map, key);
    for (MapEntry* entry = map->buckets[bucket]; entry != nullptr; entry = entry->next) {
        if (type->keyEqual(keyOf(type, entry), key))
            return {map, bucket, entry};
    }
    return mapEnd(map);
}

bool mapRemove(Map* map, const void* key)
{
    if (map->count == 0)
        return false;
    const MapType* type = map->type;
    for (MapEntry** link = &map->buckets[bucketOf(map, key)]; *link != nullptr;
         link = &(*link)->next) {
        MapEntry* entry = *link;
        if (type->keyEqual(keyOf(type, entry), key)) {
            *link = entry->next;
            --map->count;
            deleteEntry(type, entry);
            return true;
        }
    }
    return false;
}

MapPosition mapRemoveAt(Map* map, const MapPosition& position)
{
    if (position.map != map || position.entry == nullptr || map->buckets == nullptr ||
        position.bucket < 0 || position.bucket >= map->bucketCount)
        return mapEnd(map);
    // Iterators hold the entry, not the link to it, so that removing another entry never
    // leaves them dangling; the link is found again here (chains are short).
    for (MapEntry** link = &map->buckets[position.bucket]; *link != nullptr;
         link = &(*link)->next) {
        MapEntry* entry = *link;
        if (entry != position.entry)
            continue;
        *link = entry->next;
        --map->count;
        deleteEntry(map->type, entry);
        return *link != nullptr ? MapPosition{map, position.bucket, *link}
                                : firstFrom(map, position.bucket + 1);
    }
    return mapEnd(map);
}

void mapClear(Map* map)
{
    if (map->buckets == nullptr)
        return;
    for (std::int32_t bucket = 0; bucket < map->bucketCount && map->count > 0; ++bucket) {
        for (MapEntry* entry = map->buckets[bucket]; entry != nullptr;) {
            MapEntry* next = entry->next;
            deleteEntry(map->type, entry);
            --map->count;
            entry = next;
        }
        map->buckets[bucket] = nullptr;
    }
    map->count = 0;
}

bool mapAssign(Map* target, const Map* source)
{
    if (target == source)
        return true;
    mapClear(target);
    if (target->bucketCount != source->bucketCount) {
        cstr::release(target->buckets);
        target->buckets = nullptr;
        target->bucketCount = source->bucketCount;
    }
    if (source->count == 0)
        return true;
    if (target->type == nullptr || !makeBuckets(target))
        return false;
    // Same bucket count and hash: each chain is copied in order, which is what inserting
    // every entry in the source's order gives, without the key comparisons.
    for (std::int32_t bucket = 0; bucket < source->bucketCount; ++bucket) {
        MapEntry** link = &target->buckets[bucket];
        for (MapEntry* entry = source->buckets[bucket]; entry != nullptr; entry = entry->next) {
            MapEntry* copy = newEntry(target->type, keyOf(source->type, entry),
                                      valueOf(source->type, entry), false);
            if (copy == nullptr)
                return false;
            *link = copy;
            link = &copy->next;
            ++target->count;
        }
    }
    return true;
}

MapPosition mapBegin(const Map* map)
{
    return map->count == 0 ? mapEnd(map) : firstFrom(map, 0);
}

MapPosition mapEnd(const Map* map)
{
    return {map, map->bucketCount, nullptr};
}

void mapAdvance(MapPosition* position)
{
    if (position->entry == nullptr)
        return;
    if (position->entry->next != nullptr)
        position->entry = position->entry->next;
    else
        *position = firstFrom(position->map, position->bucket + 1);
}

}  // namespace kyro::ccont
