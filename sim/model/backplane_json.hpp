// The backplane as JSON: the state file's contents and what programs are shown.
#pragma once

#include "backplane.hpp"
#include "state_error.hpp"

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace zmod4710_sim {

// Throws StateError naming the first field that is missing or out of bounds.
Backplane backplane_from_json(const nlohmann::ordered_json &document);

// {"slots": [{"slot": 0, "module": "ZM-4710", "firmware": 3, "power_on_mode": 1,
//   "channels": [{"channel": 0, "range": 0, "output": 0.0, "power_on_range": 0,
//   "power_on_value": 0.0, "calibration": [{"range": 0, "gain": 32468, "offset": -15},
//   ...]}, ...]}, ...]}, listing only the occupied slots, indented by two. A
// module inserted since the factory ends with its "insertion", and the count
// of insertions follows the slots ("insertions": 2), only where they are not 0.
// Refusals on request come last, as
// "refusals": [{"call": "WriteAO", "slot": 0, "channel": 1, "result": 7, "times": 5}],
// only when there are any; a refusal for any slot or channel, or for ever,
// leaves that field out.
std::string format_backplane(const Backplane &backplane);
// {"refusals": [...]}, as the state file lists them.
std::string format_refusals(const std::vector<Refusal> &refusals);
// Throws StateError when text is not JSON or not a backplane.
Backplane parse_backplane(std::string_view text);

} // namespace zmod4710_sim
