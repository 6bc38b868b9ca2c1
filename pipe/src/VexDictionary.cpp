#include "kyro/pipe/VexDictionary.h"

#include "kyro/pipe/VexMessages.h"
#include "VexFields.h"

#include <cstring>
#include <utility>
#include <vector>

using kyro::pipe::FieldSplitter;
using kyro::pipe::FieldView;
using kyro::pipe::reportError;

namespace {

// Parent chains are short; the bound only keeps a chain that loops (a dictionary that was
// made its own ancestor by assignment) from hanging a lookup.
constexpr int kMaxParentSteps = 64;

// Marshalling nests once per dictionary value. A dictionary that holds itself, directly or
// further down, would otherwise recurse without end.
thread_local int t_marshalDepth = 0;

std::vector<TStr> pathComponents(const TStr& key)
{
    std::vector<TStr> components;
    if (key.indexOf('.') < 0) {
        if (!key.isEmpty())
            components.push_back(key);
        return components;
    }
    FieldSplitter splitter(key.utf8(), static_cast<std::size_t>(key.length()), '.');
    for (FieldView field; splitter.next(&field);)
        components.push_back(field.text());
    return components;
}

}  // namespace

TStr VexDictionaryBase::stringFor(const TStr& key) const
{
    return getString(key);
}

VexDictionary::VexDictionary(VexDictionary* parent) : m_entries(17), m_parent(parent)
{
    if (m_parent != nullptr)
        m_parent->addRef();
}

VexDictionary::VexDictionary(const VexDictionary& other)
    : VexDictionaryBase(), m_entries(17), m_parent(other.m_parent)
{
    if (m_parent != nullptr)
        m_parent->addRef();
    const TList<TStr> otherKeys = other.keys();
    for (TList<TStr>::Iterator key = otherKeys.first(); !key.atEnd(); key.advance())
        setValue(key.current(), other.getValue(key.current()));
}

VexDictionary& VexDictionary::operator=(const VexDictionary& other)
{
    assign(other);
    return *this;
}

VexDictionary::~VexDictionary()
{
    clear();
    if (m_parent != nullptr)
        m_parent->release();
}

void VexDictionary::assign(const VexDictionary& other)
{
    if (this == &other)
        return;
    // The other may live only through one of our own values; keep it alive meanwhile.
    VexDictionary& source = const_cast<VexDictionary&>(other);
    source.addRef();
    VexDictionary* newParent = source.m_parent;
    if (newParent != nullptr)
        newParent->addRef();
    if (m_parent != nullptr)
        m_parent->release();
    m_parent = nullptr;
    clear();
    for (auto entry = source.m_entries.begin(); entry != source.m_entries.end(); ++entry)
        setValue(entry.key(), entry.value());
    m_parent = newParent;
    source.release();
}

VexValue* VexDictionary::ownOrInherited(const TStr& key, bool searchParent) const
{
    const VexDictionary* dictionary = this;
    for (int step = 0; dictionary != nullptr && step < kMaxParentSteps; ++step) {
        auto entry = const_cast<VexDictionary*>(dictionary)->m_entries.find(key);
        if (entry != const_cast<VexDictionary*>(dictionary)->m_entries.end())
            return &entry.value();
        if (!searchParent)
            break;
        dictionary = dictionary->m_parent;
    }
    return nullptr;
}

// 1. Split the key at ".". 2. No components: not found. 3. Look the first up here (and
// in the parents when asked). 4. While a dictionary is found and two or more components
// remain, step into it (its lookups fall through to its own parents). 5. More than one
// component left: not found; otherwise the owner, the last component and what was found.
VexDictionary::Resolved VexDictionary::resolve(const TStr& key, bool searchParent) const
{
    Resolved result;
    if (key.indexOf('.') < 0) {
        // A plain key: its owner is this dictionary, found or not.
        if (key.isEmpty())
            return result;
        result.owner = const_cast<VexDictionary*>(this);
        result.lastKey = key;
        result.value = ownOrInherited(key, searchParent);
        if (result.value == nullptr)
            result.owner = nullptr;
        return result;
    }
    const std::vector<TStr> components = pathComponents(key);
    if (components.empty())
        return result;
    std::size_t next = 0;
    VexDictionary* owner = const_cast<VexDictionary*>(this);
    VexValue* value = ownOrInherited(components[next], searchParent);
    if (value == nullptr)
        return result;
    while (value != nullptr && value->type() == VexValue::kDictionary && components.size() - next >= 2) {
        ++next;
        owner = value->dictionary();
        value = owner->ownOrInherited(components[next], true);
    }
    if (components.size() - next > 1)
        return result;
    result.owner = owner;
    result.lastKey = components[next];
    result.value = value;
    return result;
}

void VexDictionary::store(TStr key, VexValue value)
{
    // Only a dotted key can belong to another dictionary.
    if (key.indexOf('.') >= 0) {
        const Resolved target = resolve(key, true);
        if (target.owner != nullptr && target.owner != this) {
            target.owner->store(target.lastKey, std::move(value));
            return;
        }
    }
    // Setting a key again moves it to the end of its bucket's chain. (The new value is
    // already our own copy, so removing the old entry cannot take it along.)
    m_entries.remove(key);
    m_entries.insert(std::move(key), std::move(value));
}

void VexDictionary::setString(const TStr& key, const TStr& text)
{
    store(key, VexValue(text));
}

void VexDictionary::setInt(const TStr& key, int value)
{
    store(key, VexValue(value));
}

void VexDictionary::setList(const TStr& key, const TList<TStr>& list)
{
    store(key, VexValue(list));
}

void VexDictionary::setDictionary(const TStr& key, VexDictionary* dictionary)
{
    store(key, VexValue(dictionary));
}

void VexDictionary::setDictionaryCopy(const TStr& key, const VexDictionary& dictionary)
{
    VexDictionary* copy = new VexDictionary(dictionary);
    VexValue value(copy);
    copy->release();  // the value holds the only reference
    store(key, std::move(value));
}

void VexDictionary::setValue(const TStr& key, const VexValue& value)
{
    store(key, value);
}

void VexDictionary::setValue(const TStr& key, VexValue&& value)
{
    store(key, std::move(value));
}

void VexDictionary::setValue(TStr&& key, VexValue&& value)
{
    store(std::move(key), std::move(value));
}

// Getters resolve the key here without the parents; when that finds nothing, the same
// lookup runs on the parent with the key as given, and so on up.
const VexValue* VexDictionary::lookup(const TStr& key) const
{
    const VexDictionary* dictionary = this;
    for (int step = 0; dictionary != nullptr && step < kMaxParentSteps; ++step) {
        const Resolved found = dictionary->resolve(key, false);
        if (found.owner != nullptr && found.value != nullptr)
            return found.value;
        dictionary = dictionary->m_parent;
    }
    return nullptr;
}

VexValue VexDictionary::getValue(const TStr& key) const
{
    const VexValue* value = lookup(key);
    return value != nullptr ? *value : VexValue();
}

TStr VexDictionary::getString(const TStr& key) const
{
    const VexValue* value = lookup(key);
    return value != nullptr ? value->asString() : TStr("");
}

int VexDictionary::getInt(const TStr& key) const
{
    const VexValue* value = lookup(key);
    return value != nullptr ? value->asInt() : 0;
}

bool VexDictionary::contains(const TStr& key) const
{
    return lookup(key) != nullptr;
}

TList<TStr> VexDictionary::keys() const
{
    return m_entries.keys();
}

TList<TStr> VexDictionary::stringValues() const
{
    TList<TStr> values;
    const TList<TStr> own = keys();
    for (TList<TStr>::Iterator key = own.first(); !key.atEnd(); key.advance())
        values.append(getString(key.current()));
    return values;
}

void VexDictionary::clear()
{
    m_entries.clear();
}

TStr VexDictionary::marshal() const
{
    std::string text;
    appendItems(text, ',', false);
    return TStr(text.data(), static_cast<int>(text.size()), 1);
}

void VexDictionary::appendItems(std::string& out, char separator, bool separatorFirst) const
{
    if (t_marshalDepth >= VexValue::kMaxNesting) {
        reportError(TStr("could not marshal a dictionary nested deeper than %1").arg(VexValue::kMaxNesting));
        return;
    }
    ++t_marshalDepth;
    bool first = true;
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        if (separatorFirst || !first)
            out += separator;
        first = false;
        // A key that does not resolve as a path (a dotted key stored whole, the empty key)
        // is written as an empty item, which receivers skip. A plain key names its own
        // entry; only a dotted one needs looking up again.
        const TStr& key = entry.key();
        if ((!key.isEmpty() && key.indexOf('.') < 0) || contains(key)) {
            out.append(key.utf8(), static_cast<std::size_t>(key.length()));
            out += '=';
            entry.value().appendMarshalled(out);
        }
    }
    --t_marshalDepth;
}

VexDictionary* VexDictionary::unmarshal(const TStr& text)
{
    int keysLeft = kMaxKeys;
    return unmarshal(text, 0, &keysLeft);
}

VexDictionary* VexDictionary::unmarshal(const TStr& text, int depth, int* keysLeft)
{
    auto* dictionary = new VexDictionary();
    FieldSplitter items(text.utf8(), static_cast<std::size_t>(text.length()), ',');
    // Once the keys are used up the rest of the text is not even split.
    for (FieldView item; *keysLeft >= 0 && items.next(&item);)
        dictionary->addItem(item.begin, item.length, depth, keysLeft);
    return dictionary;
}

void VexDictionary::addItem(const char* item, std::size_t length, int* keysLeft)
{
    addItem(item, length, 0, keysLeft);
}

// "key=value": exactly one "=" splits it into two parts; anything else is skipped.
void VexDictionary::addItem(const char* item, std::size_t length, int depth, int* keysLeft)
{
    FieldSplitter parts(item, length, '=');
    FieldView key;
    FieldView value;
    FieldView extra;
    if (!parts.next(&key) || !parts.next(&value) || parts.next(&extra))
        return;
    if (*keysLeft <= 0) {
        if (*keysLeft == 0)
            reportError(TStr("Dropped the keys of a received text beyond %1").arg(kMaxKeys));
        *keysLeft = -1;
        return;
    }
    --*keysLeft;
    store(key.text(), VexValue::unmarshal(value.begin, value.length, depth, keysLeft));
}
