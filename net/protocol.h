// The UDP query protocol as pure functions over byte buffers: the server's answer to one datagram,
// built over the request in the receive buffer, and the client's request, its verdict on a reply
// and how an accepted reply lands in a slot's records. The threads around these only move bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "telemetry/local_store.h"
#include "telemetry/records.h"

namespace tarvelon {

constexpr int kDatagramBufferBytes = 5951;  // both sides; cleared before every receive
constexpr int kServerReadLimit = 1900;
constexpr int kClientReadLimit = kDatagramBufferBytes - 10;
constexpr int kRequestBytes = 3;
constexpr int kReplyHostOffset = 7;
constexpr int kReplyGpuOffset = kReplyHostOffset + static_cast<int>(sizeof(HostRecord));
constexpr int kLongestReply = kReplyGpuOffset + kGpuSlots * static_cast<int>(sizeof(GpuRecord));
static_assert(kReplyGpuOffset == 131 && kLongestReply == 1859 && kClientReadLimit == 5941);

constexpr uint8_t kProtocolVersion = 1;

enum QueryCode : uint8_t {
    kCodeBadVersion = 0x01,   // server: the request's version was not 1
    kCodeUnknownCode = 0x02,  // server: version 1, but neither query nor probe
    kCodeProbe = 0x11,
    kCodeProbeAnswer = 0x12,
    kCodeQuery = 0x31,
    kCodeFullReply = 0x32,
    kCodeProcesses =
        0x33,  // client: the processes using each GPU, asked only of a server that announces them
    kCodeProcessReply = 0x34,  // server: one datagram a GPU (net/process_reply.h)
};

// Byte 4 of a full reply was always 0, and clients before these flags never read it: a server says
// there what else it answers. Bytes 5 and 6 stay 0.
constexpr int kReplyFeaturesOffset = 4;
constexpr uint8_t kFeatureProcesses = 0x01;  // answers kCodeProcesses

// Server: buffer holds the received datagram (receivedBytes long, negative when the receive failed)
// in a buffer whose first kServerReadLimit bytes were cleared before the receive.
enum class AnswerKind {
    None,       // not exactly kRequestBytes long, or already the very answer it would get
    Short,      // kRequestBytes: bad version, unknown code or probe answer
    Full,       // the records
    Processes,  // the processes using each GPU, from a server that answers them
};
// A datagram that equals its own answer is an answer itself: answering it would let two servers (or
// one server and itself, through a forged sender) bounce it between them for ever.
// A server that does not answer processes treats their question as any unknown code, as servers
// before the question did.
AnswerKind answerKindOf(const uint8_t* buffer, int receivedBytes, bool answersProcesses = false);
// Build the answer of that kind over the request in the same buffer; return the bytes to send.
int buildShortAnswer(uint8_t* buffer);
// features: what the server announces in byte kReplyFeaturesOffset.
int buildFullReply(uint8_t* buffer, const LocalStore& local, uint8_t features = 0);
// Both in one: the number of bytes to send back, 0 for no answer.
int buildAnswer(uint8_t* buffer, int receivedBytes, const LocalStore& local);

// Client: {1, sequence, 0x31}, or with the code given.
void buildQueryRequest(uint8_t sequence, uint8_t (&request)[kRequestBytes], uint8_t code = kCodeQuery);

// Whether an accepted full reply announces that its server answers the processes question.
bool announcesProcesses(const uint8_t* reply);

enum class ReplyVerdict {
    Unanswered,  // receive failed or timed out, or fewer than 3 bytes arrived
    Rejected,    // wrong sequence, not a full reply, or shorter than the records it announces
    Accepted,
};
// The version byte and the sender are not examined. A full reply must carry all the records it
// announces, of which at most kGpuSlots count.
ReplyVerdict judgeReply(const uint8_t* buffer, int receivedBytes, uint8_t sequence);

// Stores an accepted reply, read from its cleared buffer of kDatagramBufferBytes, over a slot's
// records (judgeReply has checked that they all arrived). The host's change flag is raised when its
// name, GPU count, memory totals or CPU count differ from the stored host, and a raised flag stays
// raised until its consumer clears it. Beyond the reply's count only the present byte of a GPU entry is
// cleared.
void storeReply(const uint8_t* buffer, HostRecord& host, GpuRecord (&gpus)[kGpuSlots]);

}  // namespace tarvelon
