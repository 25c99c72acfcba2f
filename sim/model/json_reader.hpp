// JSON text read into values of this program's own, through the events of
// nlohmann's parser. Its own documents need memory to be destroyed, and with
// none left that ends the program, which for a library is its caller's; these
// values need none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zmod4710_sim {

struct JsonValue {
    enum class Kind { null, boolean, integer, unsigned_integer, real, text, array, object };
    Kind kind = Kind::null;
    std::int64_t integer = 0;
    std::uint64_t unsigned_integer = 0;
    double real = 0;
    std::string text;
    std::vector<std::string> keys; // an object's keys, each beside its value in items
    std::vector<JsonValue> items;  // an array's items, or an object's values

    bool is_object() const { return kind == Kind::object; }
    bool is_array() const { return kind == Kind::array; }
    // The value of key in an object, or nullptr.
    const JsonValue *find(const std::string &key) const;
    // A whole number that fits a long long, or nothing.
    std::optional<long long> whole_number() const;
    // Any number, or nothing.
    std::optional<double> number() const;
};

// The value that text holds. Throws StateError saying where the text is not
// JSON, which key an object gives twice (the parser would keep the last), or
// that it nests deeper than any state does.
JsonValue read_json(std::string_view text);

} // namespace zmod4710_sim
