// The one-line message of each way a load can fail, for every front end.
#include <string>

#include "trapft/reader.hpp"

namespace trapft {

std::string load_message(const load_result& result, std::int32_t capacity) {
    const std::string line = std::to_string(result.line);
    switch (result.status) {
    case load_status::not_a_number: return "Error reading file: line " + line + ": not a number.";
    case load_status::time_without_value: return "Error reading file: line " + line + ": time without a value.";
    case load_status::too_many_samples:
        return "Error reading file: more than " + std::to_string(capacity) + (capacity == 1 ? " sample." : " samples.");
    case load_status::out_of_memory: return "Error reading file: not enough memory for the samples.";
    case load_status::stopped: return "Error reading file: stopped.";
    case load_status::no_numbers:  // not given by a sample file
    case load_status::read_error:
    case load_status::ok: break;
    }
    return "Error reading file.";
}

}  // namespace trapft
