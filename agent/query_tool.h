// tarvelon-query's rules: the server argument HOST[:PORT] ([ADDRESS]:PORT for IPv6), its options,
// and the received host and GPU records written out as readable text or as JSON with the records'
// own field names.
#pragma once

#include <cstdint>
#include <string>

#include "net/poll_exchange.h"
#include "net/slot_table.h"

namespace tarvelon {

struct QueryTarget {
    std::string host;
    uint16_t port;
};

// "host", "host:8221", "192.0.2.7:8221", "[2001:db8::7]:8221", "[::1]" or a bare "::1"; the port
// defaults to 8221. False with a message for anything else.
bool parseQueryTarget(const std::string& text, QueryTarget* target, std::string* message);

struct QueryOptions {
    QueryTarget target;
    bool json;
    bool highLatency;  // wait 9 s for the answer instead of 0.9 s
    bool processes;    // the processes using each GPU instead of the records
};

enum class QueryOptionsOutcome { Run, Help, Version, Error };
QueryOptionsOutcome parseQueryOptions(int argc, const char* const* argv, QueryOptions* options,
                                      std::string* message);
const char* queryUsageText();

// The present GPU records of a reply stored by the client rules, in slot order.
std::string recordsAsText(const SlotRecords& records);
std::string recordsAsJson(const SlotRecords& records);

// The processes of each GPU of an answer, named after the GPU records of the full reply before it;
// a GPU whose datagram did not come says so.
std::string processesAsText(const SlotRecords& records, const ProcessAnswer& answer);
std::string processesAsJson(const SlotRecords& records, const ProcessAnswer& answer);

}  // namespace tarvelon
