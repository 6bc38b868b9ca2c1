// VexValue: one typed value of a dictionary on the wire.
//
// Its marshalled form is a tag letter ("a" plus the kind code) followed by the escaped
// text form: "ctrue", "d-12", "e2!2e5", "ha!20b", "i<escaped dictionary>", "j<escaped list
// form>", and "a" for an empty value.
#ifndef KYRO_PIPE_VEXVALUE_H
#define KYRO_PIPE_VEXVALUE_H

#include "kyro/util/TList.h"
#include "kyro/util/TStr.h"

#include <cstddef>
#include <cstdint>
#include <string>

class VexDictionary;

class VexValue {
public:
    enum Type : std::uint32_t {
        kEmpty = 0,
        kBoolean = 2,
        kInteger = 3,
        kDouble = 4,
        kString = 7,
        kDictionary = 8,
        kList = 9,
    };

    // Deeper nesting of dictionaries inside received values is refused (reported, and the
    // value left empty), so no input can make unmarshalling recurse without end.
    static constexpr int kMaxNesting = 64;

    VexValue();
    explicit VexValue(int value);
    explicit VexValue(const TStr& text);
    explicit VexValue(VexDictionary* dictionary);   // shares it: one reference more
    explicit VexValue(const TList<TStr>& list);     // holds the list's text form
    VexValue(const VexValue& other);
    VexValue& operator=(const VexValue& other);
    virtual ~VexValue();

    VexValue(VexValue&& other) noexcept;
    VexValue& operator=(VexValue&& other) noexcept;

    // A value from its marshalled form. An empty text gives an empty value; an unknown tag
    // is reported and gives an empty value.
    static VexValue unmarshal(const TStr& text);
    static VexValue unmarshal(const char* text, std::size_t length);

    std::uint32_t type() const { return m_type; }
    void assign(const VexValue& other);
    void reset();

    TStr asString() const;
    int asInt() const;
    double asDouble() const;
    bool asBool() const;
    TStr marshal() const;
    // The marshalled form, appended to `out`.
    void appendMarshalled(std::string& out) const;

    // The dictionary held by a dictionary value (no reference added), else null.
    VexDictionary* dictionary() const { return m_type == kDictionary ? m_payload.dictionary : nullptr; }

    // The text form of a list: "#<count>:" and the escaped elements joined with ",".
    static TStr listText(const TList<TStr>& list);

private:
    friend class VexDictionary;
    // `keysLeft`: the keys the received text may still store (VexDictionary::kMaxKeys).
    static VexValue unmarshal(const char* text, std::size_t length, int depth, int* keysLeft);
    void setBool(bool value);
    void setDouble(double value);
    void setText(std::uint32_t type, TStr text);
    void setDictionary(VexDictionary* dictionary);

    std::uint32_t m_type;
    union {
        bool boolean;
        std::int32_t integer;
        double* real;
        TStr* text;
        VexDictionary* dictionary;
    } m_payload;
};

#endif
