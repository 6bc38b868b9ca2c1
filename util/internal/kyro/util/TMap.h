// TMap: a chained hash map over the untyped map of c_container.h. It keeps the bucket
// count it was made with (17 by default) and iterates bucket by bucket, each bucket in
// insertion order, so the order of the entries follows from the keys alone:
//
//  - a `long` key hashes as its value taken as an unsigned 32-bit number (-1 as 0xFFFFFFFF);
//  - a `TStr` key hashes with TStr::hashKey() and compares with TStr's operator== (a null
//    TStr and "" are different keys);
//  - any other key type does not compile (see TMapKeyTraits).
//
// Keys and values are stored as copies; a pointer value is copied as a pointer and the
// object it points to is never deleted by the map. Iterators stay valid until their own
// entry is removed or the map is destroyed.
//
//     for (const auto& entry : map) use(entry.key(), entry.value());
#ifndef KYRO_UTIL_TMAP_H
#define KYRO_UTIL_TMAP_H

#include "kyro/util/TList.h"
#include "kyro/util/TStr.h"
#include "kyro/util/c_container.h"

#include <cstdint>
#include <new>
#include <type_traits>

// How a key type hashes and compares. Only the key types below have traits.
template <class K>
struct TMapKeyTraits {
    static_assert(!std::is_same<K, K>::value, "TMap keys are long, int or TStr");
};

template <>
struct TMapKeyTraits<long> {
    // Through 32 bits, so the order is the same where long has 64 bits.
    static std::uint32_t hash(long key) { return static_cast<std::uint32_t>(key); }
    static bool equal(long a, long b) { return a == b; }
};

template <>
struct TMapKeyTraits<int> {
    static std::uint32_t hash(int key) { return static_cast<std::uint32_t>(key); }
    static bool equal(int a, int b) { return a == b; }
};

template <>
struct TMapKeyTraits<TStr> {
    static std::uint32_t hash(const TStr& key) { return key.hashKey(); }
    static bool equal(const TStr& a, const TStr& b) { return a == b; }
};

template <class K, class V>
class TMap;
template <class K, class V>
class TMapConstIterator;

namespace kyro::ccont {

// Where a TMap<K, V> entry keeps its key and its value.
template <class K, class V>
struct TMapLayout {
    static constexpr std::size_t kKeyOffset = mapKeyOffset(alignof(K));
    static constexpr std::size_t kValueOffset = mapValueOffset(sizeof(K), alignof(K), alignof(V));

    static K* key(MapEntry* entry)
    {
        return std::launder(reinterpret_cast<K*>(reinterpret_cast<char*>(entry) + kKeyOffset));
    }
    static V* value(MapEntry* entry)
    {
        return std::launder(reinterpret_cast<V*>(reinterpret_cast<char*>(entry) + kValueOffset));
    }
};

}  // namespace kyro::ccont

template <class K, class V>
class TMapIterator {
public:
    TMapIterator() = default;

    // Not at the end.
    const K& key() const { return *Layout::key(m_position.entry); }
    V& value() const { return *Layout::value(m_position.entry); }

    TMapIterator& operator++()
    {
        kyro::ccont::mapAdvance(&m_position);
        return *this;
    }
    bool operator==(const TMapIterator& other) const
    {
        return kyro::ccont::mapSamePosition(m_position, other.m_position);
    }
    bool operator!=(const TMapIterator& other) const { return !(*this == other); }

    // For range-for: the entry is the iterator itself.
    const TMapIterator& operator*() const { return *this; }

private:
    using Layout = kyro::ccont::TMapLayout<K, V>;
    friend class TMap<K, V>;
    friend class TMapConstIterator<K, V>;
    explicit TMapIterator(const kyro::ccont::MapPosition& position) : m_position(position) {}

    kyro::ccont::MapPosition m_position{};
};

template <class K, class V>
class TMapConstIterator {
public:
    TMapConstIterator() = default;
    TMapConstIterator(const TMapIterator<K, V>& other) : m_position(other.m_position) {}

    const K& key() const { return *Layout::key(m_position.entry); }
    const V& value() const { return *Layout::value(m_position.entry); }

    TMapConstIterator& operator++()
    {
        kyro::ccont::mapAdvance(&m_position);
        return *this;
    }
    bool operator==(const TMapConstIterator& other) const
    {
        return kyro::ccont::mapSamePosition(m_position, other.m_position);
    }
    bool operator!=(const TMapConstIterator& other) const { return !(*this == other); }

    const TMapConstIterator& operator*() const { return *this; }

private:
    using Layout = kyro::ccont::TMapLayout<K, V>;
    friend class TMap<K, V>;
    explicit TMapConstIterator(const kyro::ccont::MapPosition& position) : m_position(position) {}

    kyro::ccont::MapPosition m_position{};
};

template <class K, class V>
class TMap {
public:
    using Iterator = TMapIterator<K, V>;
    using ConstIterator = TMapConstIterator<K, V>;

    // `buckets` below 1 gives the default 17.
    explicit TMap(int buckets = kyro::ccont::kDefaultBuckets)
    {
        kyro::ccont::mapInit(&m_map, acquireType(), buckets);
    }
    TMap(const TMap& other) : TMap(other.m_map.bucketCount)
    {
        kyro::ccont::mapAssign(&m_map, &other.m_map);
    }
    // Takes the other map's bucket count too, so both iterate alike.
    TMap& operator=(const TMap& other)
    {
        kyro::ccont::mapAssign(&m_map, &other.m_map);
        return *this;
    }
    virtual ~TMap() { kyro::ccont::mapDestroy(&m_map); }

    // Insert or replace: a key already present keeps its place and gets the new value.
    // Returns the entry; the end when memory runs out.
    Iterator insert(const K& key, const V& value)
    {
        return Iterator(kyro::ccont::mapInsert(&m_map, &key, &value));
    }
    // The same, moving the key and the value into the map.
    Iterator insert(K&& key, V&& value)
    {
        return Iterator(kyro::ccont::mapInsertMoved(&m_map, &key, &value));
    }
    Iterator find(const K& key) { return Iterator(kyro::ccont::mapFind(&m_map, &key)); }
    ConstIterator find(const K& key) const
    {
        return ConstIterator(kyro::ccont::mapFind(&m_map, &key));
    }
    // False when the key is missing.
    bool remove(const K& key) { return kyro::ccont::mapRemove(&m_map, &key); }
    // Returns the entry that followed; the end, with nothing removed, for an iterator at
    // the end or of another map.
    Iterator remove(const Iterator& position)
    {
        return Iterator(kyro::ccont::mapRemoveAt(&m_map, position.m_position));
    }
    int count() const { return m_map.count; }
    void clear() { kyro::ccont::mapClear(&m_map); }

    Iterator begin() { return Iterator(kyro::ccont::mapBegin(&m_map)); }
    Iterator end() { return Iterator(kyro::ccont::mapEnd(&m_map)); }
    ConstIterator begin() const { return ConstIterator(kyro::ccont::mapBegin(&m_map)); }
    ConstIterator end() const { return ConstIterator(kyro::ccont::mapEnd(&m_map)); }

    // The keys in iteration order.
    TList<TStr> keys() const
    {
        static_assert(std::is_same<K, TStr>::value, "keys() lists TStr keys");
        TList<TStr> result;
        for (kyro::ccont::MapPosition p = kyro::ccont::mapBegin(&m_map); p.entry != nullptr;
             kyro::ccont::mapAdvance(&p))
            result.append(*Layout::key(p.entry));
        return result;
    }

private:
    using Layout = kyro::ccont::TMapLayout<K, V>;
    using Keys = TMapKeyTraits<K>;

    static std::uint32_t hashKey(const void* key) { return Keys::hash(*static_cast<const K*>(key)); }
    static bool equalKeys(const void* a, const void* b)
    {
        return Keys::equal(*static_cast<const K*>(a), *static_cast<const K*>(b));
    }

    static kyro::ccont::MapType* acquireType()
    {
        static_assert(alignof(K) <= kyro::ccont::kBlockAlignment &&
                          alignof(V) <= kyro::ccont::kBlockAlignment,
                      "over-aligned key or value type");
        kyro::ccont::MapType prototype{};
        prototype.keySize = static_cast<std::int32_t>(sizeof(K));
        prototype.valueSize = static_cast<std::int32_t>(sizeof(V));
        prototype.keyOffset = static_cast<std::int32_t>(Layout::kKeyOffset);
        prototype.valueOffset = static_cast<std::int32_t>(Layout::kValueOffset);
        prototype.keyEqual = &equalKeys;
        prototype.keyHash = &hashKey;
        prototype.createKey = &kyro::ccont::createCopy<K>;
        prototype.createValue = &kyro::ccont::createCopy<V>;
        prototype.assignValue = &kyro::ccont::assignCopy<V>;
        prototype.moveKey = &kyro::ccont::createMoved<K>;
        prototype.moveValue = &kyro::ccont::createMoved<V>;
        prototype.moveAssignValue = &kyro::ccont::assignMoved<V>;
        prototype.destroyKey = &kyro::ccont::destroyObject<K>;
        prototype.destroyValue = &kyro::ccont::destroyObject<V>;
        return kyro::ccont::acquireMapType(&s_type, prototype);
    }

    // The descriptor of this instantiation while any of its maps lives.
    inline static kyro::ccont::MapType* s_type = nullptr;

    kyro::ccont::Map m_map;
};

#endif
