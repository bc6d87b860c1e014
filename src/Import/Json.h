// Json: a small JSON reader for the glTF importer. The whole document becomes
// a tree of JsonValue; hostile text can only make it throw orv::Error (no
// deep recursion: nesting is limited, no allocation beyond the text's size).
// Numbers are read exactly (correctly rounded to double).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv {

struct JsonMember;

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;                                         // a String
    std::vector<JsonValue> items;                             // an Array
    std::vector<JsonMember> members;  // an Object, in file order

    bool isObject() const { return kind == Kind::Object; }
    bool isArray() const { return kind == Kind::Array; }
    bool isNumber() const { return kind == Kind::Number; }
    bool isString() const { return kind == Kind::String; }
    // The member named _key of an object (the first, should it repeat), or null.
    const JsonValue* find(std::string_view _key) const;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

// Deepest nesting of arrays and objects accepted.
inline constexpr int kJsonMaxDepth = 64;

// Parses the whole of _text as one JSON value (surrounding white space
// allowed). Throws orv::Error "JSON line L: <problem>" for anything else.
JsonValue parseJson(std::string_view _text);

}  // namespace orv
