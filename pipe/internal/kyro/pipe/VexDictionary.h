// VexDictionary: text keys to typed values, the arguments of every packet.
//
// Keys may be dotted paths: "a.b" reaches the entry "b" of the dictionary held under "a".
// Lookups that miss fall through to the parent dictionary, when there is one. Entries are
// kept in a 17-bucket map, so their order (and with it the order of the marshalled text)
// follows the keys' hashes and, within a bucket, the order of setting.
//
// Marshalled form: "key=<marshalled value>" items joined with ","; keys travel unescaped.
//
// Received text is bounded in keys: one text (a packet's line, or a text given to
// unmarshal()) stores at most kMaxKeys items, those of the dictionaries nested in its
// values included. The rest of the text is not read; it is dropped with the report
// "Dropped the keys of a received text beyond %1". Each key stored costs a walk of its
// bucket, so without the bound a text of many keys would take time growing with the
// square of their number.
#ifndef KYRO_PIPE_VEXDICTIONARY_H
#define KYRO_PIPE_VEXDICTIONARY_H

#include "kyro/pipe/VexBase.h"
#include "kyro/pipe/VexValue.h"
#include "kyro/util/TList.h"
#include "kyro/util/TMap.h"
#include "kyro/util/TStr.h"

#include <string>

class VexDictionaryBase : public VexBase {
public:
    virtual void clear() = 0;
    virtual void setString(const TStr& key, const TStr& text) = 0;
    virtual TStr getString(const TStr& key) const = 0;
    virtual bool contains(const TStr& key) const = 0;
    virtual TList<TStr> keys() const = 0;
    virtual TList<TStr> stringValues() const = 0;
    // The same as getString; kept as its own entry point for subclasses that look texts up
    // differently from values.
    virtual TStr stringFor(const TStr& key) const;
    virtual VexValue getValue(const TStr& key) const = 0;
};

class VexDictionary : public VexDictionaryBase {
public:
    explicit VexDictionary(VexDictionary* parent = nullptr);
    VexDictionary(const VexDictionary& other);
    VexDictionary& operator=(const VexDictionary& other);
    ~VexDictionary() override;

    void assign(const VexDictionary& other);

    // Setters replace what is stored under the key.
    void setString(const TStr& key, const TStr& text) override;
    void setInt(const TStr& key, int value);
    void setList(const TStr& key, const TList<TStr>& list);
    void setDictionary(const TStr& key, VexDictionary* dictionary);     // shared
    void setDictionaryCopy(const TStr& key, const VexDictionary& dictionary);
    void setValue(const TStr& key, const VexValue& value);
    void setValue(const TStr& key, VexValue&& value);
    void setValue(TStr&& key, VexValue&& value);

    // Getters give the defaults ("", 0, false, an empty value) when nothing is found.
    TStr getString(const TStr& key) const override;
    int getInt(const TStr& key) const;
    bool contains(const TStr& key) const override;
    VexValue getValue(const TStr& key) const override;

    TList<TStr> keys() const override;            // own keys only
    TList<TStr> stringValues() const override;
    void clear() override;

    TStr marshal() const;
    // The marshalled items, each preceded by `separator` when separatorFirst, else joined
    // by it (packets carry their payload as ";"-separated fields).
    void appendItems(std::string& out, char separator, bool separatorFirst) const;
    static constexpr int kMaxKeys = 1024;

    // A new dictionary (no parent) whose one reference belongs to the caller.
    static VexDictionary* unmarshal(const TStr& text);
    // Stores one marshalled item ("key=value"); an item that is not exactly one key and
    // one value is skipped. A dotted key is resolved as a path. `keysLeft` counts down the
    // keys the received text may still store (start it at kMaxKeys); once none is left the
    // item is dropped, and the first time with the report, after which it reads -1.
    void addItem(const char* item, std::size_t length, int* keysLeft);

    VexDictionary* parent() const { return m_parent; }

private:
    friend class VexValue;
    static VexDictionary* unmarshal(const TStr& text, int depth, int* keysLeft);
    void addItem(const char* item, std::size_t length, int depth, int* keysLeft);
    const VexValue* lookup(const TStr& key) const;

    struct Resolved {
        VexDictionary* owner = nullptr;   // null: not found
        TStr lastKey;
        VexValue* value = nullptr;
    };
    Resolved resolve(const TStr& key, bool searchParent) const;
    VexValue* ownOrInherited(const TStr& key, bool searchParent) const;
    void store(TStr key, VexValue value);

    TMap<TStr, VexValue> m_entries;
    VexDictionary* m_parent;
};

#endif
