#include "json_reader.hpp"

#include "one_line.hpp"
#include "state_error.hpp"

#include <limits>
#include <nlohmann/json.hpp>
#include <set>

namespace zmod4710_sim {

namespace {

// Far deeper than a backplane's state (six levels); deeper text is refused
// before it is read further.
constexpr std::size_t kMaxDepth = 32;

// Builds the value from the parser's events, one container open at a time.
class Builder {
public:
    bool null() { return put(JsonValue{}); }
    bool boolean(bool) { return put(JsonValue::Kind::boolean); }
    bool number_integer(std::int64_t number) {
        JsonValue value = made(JsonValue::Kind::integer);
        value.integer = number;
        return put(std::move(value));
    }
    bool number_unsigned(std::uint64_t number) {
        JsonValue value = made(JsonValue::Kind::unsigned_integer);
        value.unsigned_integer = number;
        return put(std::move(value));
    }
    bool number_float(double number, const std::string &) {
        JsonValue value = made(JsonValue::Kind::real);
        value.real = number;
        return put(std::move(value));
    }
    bool string(std::string &text) {
        JsonValue value = made(JsonValue::Kind::text);
        value.text = std::move(text);
        return put(std::move(value));
    }
    bool binary(nlohmann::json::binary_t &) { return false; }
    bool start_object(std::size_t) { return open(JsonValue::Kind::object); }
    bool key(std::string &key);
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(JsonValue::Kind::array); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string &, const nlohmann::json::exception &error);

    JsonValue take() { return std::move(root_); }
    const std::string &failure() const { return failure_; }

private:
    static JsonValue made(JsonValue::Kind kind) {
        JsonValue value;
        value.kind = kind;
        return value;
    }
    bool put(JsonValue::Kind kind) { return put(made(kind)); }
    bool put(JsonValue value);
    bool open(JsonValue::Kind kind);
    bool close() {
        open_.pop_back();
        keys_.pop_back();
        return true;
    }

    JsonValue root_;
    // The containers open, outermost first: each is the last item of the one
    // before it, so adding to the innermost moves none of them.
    std::vector<JsonValue *> open_;
    std::vector<std::set<std::string>> keys_;
    std::string failure_;
};

bool Builder::key(std::string &key) {
    if (!keys_.back().insert(key).second) {
        // The parser would keep the last of two: a second "slots" would empty
        // the backplane unseen.
        failure_ = "\"" + one_line(key, kQuoteLimit) + "\" is given twice in one object";
        return false;
    }
    open_.back()->keys.push_back(std::move(key));
    return true;
}

bool Builder::parse_error(std::size_t, const std::string &,
                          const nlohmann::json::exception &error) {
    // The parser's account of where the text goes wrong, without its tag. Not
    // only syntax: a number too large for a double is refused here too.
    const std::string what = error.what();
    const std::size_t tag_end = what.find("] ");
    failure_ = one_line(tag_end == std::string::npos ? what : what.substr(tag_end + 2), 200);
    return false;
}

bool Builder::put(JsonValue value) {
    if (open_.empty()) {
        root_ = std::move(value);
    } else {
        open_.back()->items.push_back(std::move(value));
    }
    return true;
}

bool Builder::open(JsonValue::Kind kind) {
    if (open_.size() == kMaxDepth) {
        failure_ = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return false;
    }
    put(kind);
    open_.push_back(open_.empty() ? &root_ : &open_.back()->items.back());
    keys_.emplace_back();
    return true;
}

} // namespace

const JsonValue *JsonValue::find(const std::string &key) const {
    for (std::size_t index = 0; index < keys.size(); ++index) {
        if (keys[index] == key) {
            return &items[index];
        }
    }
    return nullptr;
}

std::optional<long long> JsonValue::whole_number() const {
    if (kind == Kind::integer) {
        return static_cast<long long>(integer);
    }
    if (kind == Kind::unsigned_integer &&
        unsigned_integer <= static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
        return static_cast<long long>(unsigned_integer);
    }
    return std::nullopt;
}

std::optional<double> JsonValue::number() const {
    switch (kind) {
    case Kind::integer:
        return static_cast<double>(integer);
    case Kind::unsigned_integer:
        return static_cast<double>(unsigned_integer);
    case Kind::real:
        return real;
    default:
        return std::nullopt;
    }
}

JsonValue read_json(std::string_view text) {
    Builder builder;
    if (!nlohmann::json::sax_parse(text, &builder)) {
        throw StateError(builder.failure().empty() ? "not JSON" : builder.failure());
    }
    return builder.take();
}

} // namespace zmod4710_sim
