#include "engine/remote/SftpClient.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace remote::sftp {

namespace {

namespace type {
constexpr std::uint8_t kInit = 1;
constexpr std::uint8_t kVersion = 2;
constexpr std::uint8_t kOpen = 3;
constexpr std::uint8_t kClose = 4;
constexpr std::uint8_t kRead = 5;
constexpr std::uint8_t kWrite = 6;
constexpr std::uint8_t kLstat = 7;
constexpr std::uint8_t kFstat = 8;
constexpr std::uint8_t kSetstat = 9;
constexpr std::uint8_t kOpendir = 11;
constexpr std::uint8_t kReaddir = 12;
constexpr std::uint8_t kRemove = 13;
constexpr std::uint8_t kMkdir = 14;
constexpr std::uint8_t kRmdir = 15;
constexpr std::uint8_t kRealpath = 16;
constexpr std::uint8_t kStat = 17;
constexpr std::uint8_t kRename = 18;
constexpr std::uint8_t kReadlink = 19;
constexpr std::uint8_t kStatus = 101;
constexpr std::uint8_t kHandle = 102;
constexpr std::uint8_t kData = 103;
constexpr std::uint8_t kName = 104;
constexpr std::uint8_t kAttrs = 105;
constexpr std::uint8_t kExtended = 200;
constexpr std::uint8_t kExtendedReply = 201;
}  // namespace type

constexpr std::size_t kInboxSize = 256 * 1024;
// Reads this large go straight from the channel into their place.
constexpr std::size_t kDirectRead = 16 * 1024;
// A server's status message is kept to this length in errors.
constexpr std::size_t kMaxMessage = 512;

[[noreturn]] void Invalid(const std::string& what)
{
    throw inet::InternetError(inet::err::kInvalidServerResponse, "The server's SFTP reply is not valid: " + what);
}

void PutU32(std::vector<char>& out, std::uint32_t v)
{
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    out.insert(out.end(), b, b + 4);
}

void PutU64(std::vector<char>& out, std::uint64_t v)
{
    PutU32(out, static_cast<std::uint32_t>(v >> 32));
    PutU32(out, static_cast<std::uint32_t>(v));
}

void PatchU32(char* at, std::uint32_t v)
{
    at[0] = static_cast<char>(v >> 24);
    at[1] = static_cast<char>(v >> 16);
    at[2] = static_cast<char>(v >> 8);
    at[3] = static_cast<char>(v);
}

std::uint32_t GetU32(const char* at)
{
    const auto* u = reinterpret_cast<const unsigned char*>(at);
    return (std::uint32_t(u[0]) << 24) | (std::uint32_t(u[1]) << 16) | (std::uint32_t(u[2]) << 8) | u[3];
}

void PutString(std::vector<char>& out, std::string_view s)
{
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

// A path is a C string on every server: a NUL in it would name another file.
void PutPath(std::vector<char>& out, const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw inet::InternetError(inet::err::kInvalidParameter, "A path holding NUL cannot be sent");
    PutString(out, path);
}

void PutAttrs(std::vector<char>& out, const Attributes& a)
{
    const std::uint32_t flags = a.flags & (Attributes::kSize | Attributes::kUidGid | Attributes::kPermissions |
                                           Attributes::kTimes);
    PutU32(out, flags);
    if (flags & Attributes::kSize)
        PutU64(out, a.size);
    if (flags & Attributes::kUidGid) {
        PutU32(out, a.uid);
        PutU32(out, a.gid);
    }
    if (flags & Attributes::kPermissions)
        PutU32(out, a.permissions);
    if (flags & Attributes::kTimes) {
        PutU32(out, a.atime);
        PutU32(out, a.mtime);
    }
}

}  // namespace

// ---------------------------------------------------------------- Decoder

void Decoder::Need(std::size_t n) const
{
    if (static_cast<std::size_t>(end_ - p_) < n)
        Invalid("a field goes past the end of its packet");
}

std::uint8_t Decoder::U8()
{
    Need(1);
    return static_cast<std::uint8_t>(*p_++);
}

std::uint32_t Decoder::U32()
{
    Need(4);
    const std::uint32_t v = GetU32(p_);
    p_ += 4;
    return v;
}

std::uint64_t Decoder::U64()
{
    const std::uint64_t high = U32();
    return (high << 32) | U32();
}

std::string Decoder::String(std::size_t max)
{
    const std::uint32_t n = U32();
    if (n > max)
        Invalid("a string of " + std::to_string(n) + " bytes");
    Need(n);
    std::string s(p_, n);
    p_ += n;
    return s;
}

Attributes Decoder::Attrs()
{
    Attributes a;
    a.flags = U32();
    if (a.Has(Attributes::kSize))
        a.size = U64();
    if (a.Has(Attributes::kUidGid)) {
        a.uid = U32();
        a.gid = U32();
    }
    if (a.Has(Attributes::kPermissions))
        a.permissions = U32();
    if (a.Has(Attributes::kTimes)) {
        a.atime = U32();
        a.mtime = U32();
    }
    if (a.Has(Attributes::kExtended)) {
        const std::uint32_t count = U32();
        for (std::uint32_t i = 0; i < count; ++i) {
            String();
            String();
        }
    }
    return a;
}

std::string StatusText(std::uint32_t code, std::string_view message)
{
    std::string text = "SFTP status " + std::to_string(code);
    if (!message.empty()) {
        text += ": ";
        for (char c : message.substr(0, kMaxMessage)) {
            const auto u = static_cast<unsigned char>(c);
            text += (u < 0x20 || u == 0x7f) ? '?' : c;
        }
    }
    return text;
}

// ----------------------------------------------------------------- Client

Client::Client(Channel& channel) : channel_(channel), inbox_(kInboxSize) {}

std::uint32_t Client::NextId()
{
    std::uint32_t id = nextId_++;
    if (nextId_ == 0)
        nextId_ = 1;
    return id;
}

std::vector<char> Client::Start(std::uint8_t packetType, std::uint32_t id)
{
    std::vector<char> p;
    p.reserve(64);
    PutU32(p, 0);  // the length, once known
    p.push_back(static_cast<char>(packetType));
    PutU32(p, id);
    return p;
}

void Client::SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs)
{
    idle_ = std::move(handler);
    idleMs_ = std::max<std::uint32_t>(1, intervalMs);
}

void Client::WaitWithIdle(bool betweenReplies)
{
    if (!idle_ || inboxStart_ < inboxEnd_)
        return;
    const std::uint32_t limit = channel_.receiveTimeoutMs();
    std::uint64_t waited = 0;
    while (!channel_.WaitReadable(static_cast<int>(idleMs_))) {
        waited += idleMs_;
        if (limit && waited >= limit)
            throw inet::InternetError(inet::err::kTimeout, "The server did not answer within the time-out");
        try {
            idle_();
        } catch (...) {
            // The reply under way is finished by the next call, and nobody gets it.
            if (!betweenReplies)
                discardPartial_ = true;
            throw;
        }
    }
}

void Client::Send(std::vector<char>& packet)
{
    PatchU32(packet.data(), static_cast<std::uint32_t>(packet.size() - 4));
    channel_.WriteAll(packet.data(), packet.size());
}

void Client::ReadSomeInto(char* out, std::size_t size, std::size_t& got, bool betweenReplies)
{
    if (inboxStart_ == inboxEnd_) {
        WaitWithIdle(betweenReplies);
        if (size >= kDirectRead) {
            got += channel_.ReadSome(out, size);
            return;
        }
        inboxStart_ = 0;
        inboxEnd_ = channel_.ReadSome(inbox_.data(), inbox_.size());
    }
    const std::size_t n = std::min(size, inboxEnd_ - inboxStart_);
    std::memcpy(out, inbox_.data() + inboxStart_, n);
    inboxStart_ += n;
    got += n;
}

void Client::NextReply(Reply& reply)
{
    for (;;) {
        // Where an idle handler gave up, the reading goes on where it stopped.
        while (headGot_ < 4)
            ReadSomeInto(head_ + headGot_, 4 - headGot_, headGot_, headGot_ == 0);
        const std::uint32_t length = GetU32(head_);
        if (length < 1 || length > kMaxPacket)
            Invalid("a packet of " + std::to_string(length) + " bytes");
        partial_.resize(length);
        while (bodyGot_ < length)
            ReadSomeInto(partial_.data() + bodyGot_, length - bodyGot_, bodyGot_, false);
        headGot_ = bodyGot_ = 0;
        std::swap(reply.body, partial_);
        if (discardPartial_) {
            discardPartial_ = false;
            continue;
        }
        reply.type = static_cast<std::uint8_t>(reply.body[0]);
        reply.pos = 1;
        if (reply.type == type::kVersion)
            return;
        if (length < 5)
            Invalid("a reply without a request id");
        reply.id = GetU32(reply.body.data() + 1);
        reply.pos = 5;
        if (dropped_.erase(reply.id) > 0)
            continue;
        return;
    }
}

void Client::Expect(std::uint32_t id, Reply& reply)
{
    try {
        NextReply(reply);
    } catch (...) {
        dropped_.insert(id);  // an idle handler gave up waiting: the answer is nobody's now
        throw;
    }
    if (reply.type == type::kVersion || reply.id != id)
        Invalid("an answer to a request that was not asked");
}

[[noreturn]] void Client::ThrowStatus(Reply& reply)
{
    Decoder d(reply.body.data() + reply.pos, reply.body.size() - reply.pos);
    const std::uint32_t code = d.U32();
    std::string message;
    // Version 3 servers may leave out the message and language.
    if (d.left() >= 4)
        message = d.String();
    throw inet::InternetError(inet::err::kExtendedError, {}, StatusText(code, message));
}

Decoder Client::ExpectAnswer(std::uint32_t id, std::uint8_t wanted, const char* what)
{
    Expect(id, scratch_);
    if (scratch_.type == type::kStatus)
        ThrowStatus(scratch_);
    if (scratch_.type != wanted)
        Invalid("type " + std::to_string(scratch_.type) + " where " + what);
    return Decoder(scratch_.body.data() + scratch_.pos, scratch_.body.size() - scratch_.pos);
}

void Client::ExpectStatusOk(std::uint32_t id)
{
    Expect(id, scratch_);
    if (scratch_.type != type::kStatus)
        Invalid("type " + std::to_string(scratch_.type) + " where a status was due");
    Decoder d(scratch_.body.data() + scratch_.pos, scratch_.body.size() - scratch_.pos);
    if (d.U32() != fx::kOk)
        ThrowStatus(scratch_);
}

void Client::Init()
{
    std::vector<char> p;
    PutU32(p, 0);
    p.push_back(static_cast<char>(type::kInit));
    PutU32(p, 3);
    Send(p);
    NextReply(scratch_);
    if (scratch_.type != type::kVersion)
        Invalid("no version in the first reply");
    Decoder d(scratch_.body.data() + 1, scratch_.body.size() - 1);
    version_ = d.U32();
    if (version_ < 3)
        throw inet::InternetError(inet::err::kInvalidServerResponse,
                                  "The server speaks SFTP version " + std::to_string(version_) + ", 3 is needed");
    while (d.left() > 0) {
        std::string name = d.String(1024);
        extensions_[name] = d.String(4096);
    }
    if (extensions_.count("limits@openssh.com")) {
        const std::uint32_t id = NextId();
        std::vector<char> q = Start(type::kExtended, id);
        PutString(q, "limits@openssh.com");
        Send(q);
        Expect(id, scratch_);
        if (scratch_.type == type::kExtendedReply) {
            Decoder l(scratch_.body.data() + scratch_.pos, scratch_.body.size() - scratch_.pos);
            const std::uint64_t maxPacket = l.U64(), maxRead = l.U64(), maxWrite = l.U64();
            // Room for the header of a write request around its data; 0 means "no limit".
            const std::uint64_t cap = 256 * 1024 - 1024;
            auto pick = [&](std::uint64_t limit) -> std::uint32_t {
                std::uint64_t v = limit ? limit : cap;
                if (maxPacket && maxPacket > 1024)
                    v = std::min(v, maxPacket - 1024);
                return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(v, 32768, cap));
            };
            if ((maxRead == 0 || maxRead >= 32768) && (maxPacket == 0 || maxPacket >= 34000)) {
                readChunk_ = pick(maxRead);
                writeChunk_ = pick(maxWrite);
            }
        }
    }
}

std::string Client::PathRequest(std::uint8_t packetType, const std::string& path)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(packetType, id);
    PutPath(p, path);
    Send(p);
    Decoder d = ExpectAnswer(id, type::kName, "a name was due");
    if (d.U32() != 1)
        Invalid("not exactly one name");
    return d.String(64 * 1024);
}

std::string Client::RealPath(const std::string& path)
{
    return PathRequest(type::kRealpath, path);
}

std::string Client::ReadLink(const std::string& path)
{
    return PathRequest(type::kReadlink, path);
}

Attributes Client::StatRequest(std::uint8_t packetType, const std::string& pathOrHandle)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(packetType, id);
    if (packetType == type::kFstat)
        PutString(p, pathOrHandle);
    else
        PutPath(p, pathOrHandle);
    Send(p);
    Decoder d = ExpectAnswer(id, type::kAttrs, "attributes were due");
    return d.Attrs();
}

Attributes Client::Stat(const std::string& path)
{
    return StatRequest(type::kStat, path);
}

Attributes Client::LStat(const std::string& path)
{
    return StatRequest(type::kLstat, path);
}

Attributes Client::FStat(const std::string& handle)
{
    return StatRequest(type::kFstat, handle);
}

void Client::SetStat(const std::string& path, const Attributes& attrs)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kSetstat, id);
    PutPath(p, path);
    PutAttrs(p, attrs);
    Send(p);
    ExpectStatusOk(id);
}

void Client::SimpleRequest(std::uint8_t packetType, const std::string& path)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(packetType, id);
    PutPath(p, path);
    if (packetType == type::kMkdir)
        PutAttrs(p, {});
    Send(p);
    ExpectStatusOk(id);
}

void Client::MakeDirectory(const std::string& path)
{
    SimpleRequest(type::kMkdir, path);
}

void Client::RemoveDirectory(const std::string& path)
{
    SimpleRequest(type::kRmdir, path);
}

void Client::Remove(const std::string& path)
{
    SimpleRequest(type::kRemove, path);
}

void Client::Rename(const std::string& from, const std::string& to)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kRename, id);
    PutPath(p, from);
    PutPath(p, to);
    Send(p);
    ExpectStatusOk(id);
}

std::string Client::Open(const std::string& path, std::uint32_t flags, const Attributes& attrs)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kOpen, id);
    PutPath(p, path);
    PutU32(p, flags);
    PutAttrs(p, attrs);
    Send(p);
    Decoder d = ExpectAnswer(id, type::kHandle, "a handle was due");
    return d.String(kMaxHandle);
}

std::string Client::OpenDirectory(const std::string& path)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kOpendir, id);
    PutPath(p, path);
    Send(p);
    Decoder d = ExpectAnswer(id, type::kHandle, "a handle was due");
    return d.String(kMaxHandle);
}

bool Client::ReadDirectory(const std::string& handle, std::vector<NameEntry>& out)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kReaddir, id);
    PutString(p, handle);
    Send(p);
    Expect(id, scratch_);
    if (scratch_.type == type::kStatus) {
        Decoder d(scratch_.body.data() + scratch_.pos, scratch_.body.size() - scratch_.pos);
        if (d.U32() == fx::kEof)
            return false;
        ThrowStatus(scratch_);
    }
    if (scratch_.type != type::kName)
        Invalid("type " + std::to_string(scratch_.type) + " where names were due");
    Decoder d(scratch_.body.data() + scratch_.pos, scratch_.body.size() - scratch_.pos);
    const std::uint32_t count = d.U32();
    // Each name takes at least 12 bytes: a count beyond that is a lie.
    if (count > d.left() / 12)
        Invalid("a count of " + std::to_string(count) + " names");
    for (std::uint32_t i = 0; i < count; ++i) {
        NameEntry e;
        e.name = d.String(64 * 1024);
        e.longname = d.String(64 * 1024);
        e.attrs = d.Attrs();
        out.push_back(std::move(e));
    }
    return true;
}

void Client::CloseHandle(const std::string& handle)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kClose, id);
    PutString(p, handle);
    Send(p);
    ExpectStatusOk(id);
}

void Client::CloseHandleLater(const std::string& handle)
{
    const std::uint32_t id = NextId();
    std::vector<char> p = Start(type::kClose, id);
    PutString(p, handle);
    Send(p);
    dropped_.insert(id);
}

// ----------------------------------------------------------------- Reader

Client::Reader::Reader(Client& client, std::string handle, std::uint64_t offset, std::size_t inFlight)
    : client_(client), handle_(std::move(handle)), position_(offset), requested_(offset),
      inFlight_(std::max<std::size_t>(1, inFlight))
{
}

Client::Reader::~Reader()
{
    Abandon();
}

void Client::Reader::Abandon()
{
    abandoned_ = true;
    for (const Request& r : requests_)
        if (!r.done)
            client_.dropped_.insert(r.id);
    requests_.clear();
}

void Client::Reader::Fill()
{
    while (!abandoned_ && !eofSeen_ && requests_.size() < inFlight_) {
        Request r;
        r.id = client_.NextId();
        r.offset = requested_;
        r.length = client_.readChunk_;
        std::vector<char> p = client_.Start(type::kRead, r.id);
        PutString(p, handle_);
        PutU64(p, r.offset);
        PutU32(p, r.length);
        client_.Send(p);
        requested_ += r.length;
        requests_.push_back(std::move(r));
    }
}

// Whatever went wrong while a reply was awaited, this read is over.
void Client::Reader::ReceiveOrAbandon()
{
    try {
        Receive();
    } catch (...) {
        Abandon();
        throw;
    }
}

void Client::Reader::Receive()
{
    Reply& reply = client_.scratch_;
    client_.NextReply(reply);
    auto it = std::find_if(requests_.begin(), requests_.end(),
                           [&](const Request& r) { return !r.done && r.id == reply.id; });
    if (reply.type == type::kVersion || it == requests_.end())
        Invalid("an answer to a read that was not asked");
    Request& r = *it;
    if (reply.type == type::kStatus) {
        Decoder d(reply.body.data() + reply.pos, reply.body.size() - reply.pos);
        if (d.U32() != fx::kEof)
            client_.ThrowStatus(reply);
        r.done = r.eof = true;
        eofSeen_ = true;
        return;
    }
    if (reply.type != type::kData)
        Invalid("type " + std::to_string(reply.type) + " where data was due");
    Decoder d(reply.body.data() + reply.pos, reply.body.size() - reply.pos);
    const std::uint32_t n = d.U32();
    if (n != d.left())
        Invalid("a data length that is not the packet's");
    if (n == 0 || n > r.length)
        Invalid(std::to_string(n) + " bytes for a read of " + std::to_string(r.length));
    r.done = true;
    r.dataStart = reply.pos + 4;
    r.dataEnd = r.dataStart + n;
    std::swap(r.data, reply.body);  // no copy: the buffers take turns
}

std::string_view Client::Reader::Peek()
{
    if (abandoned_)
        throw inet::InternetError(inet::err::kInvalidOperation, "The read was abandoned");
    for (;;) {
        Fill();
        if (requests_.empty())
            return {};
        Request& head = requests_.front();
        while (!head.done)
            ReceiveOrAbandon();
        if (head.eof) {
            // Nothing lies past the end: what is still in flight is for later bytes.
            Abandon();
            abandoned_ = false;
            eofSeen_ = true;
            return {};
        }
        if (head.dataStart < head.dataEnd)
            return {head.data.data() + head.dataStart, head.dataEnd - head.dataStart};
        // Used up. A short answer (the server may give less than asked
        // anywhere) leaves a gap that is asked for again before going on.
        const std::uint64_t end = head.offset + head.length;
        requests_.pop_front();
        if (position_ < end) {
            Request gap;
            gap.id = client_.NextId();
            gap.offset = position_;
            gap.length = static_cast<std::uint32_t>(end - position_);
            std::vector<char> p = client_.Start(type::kRead, gap.id);
            PutString(p, handle_);
            PutU64(p, gap.offset);
            PutU32(p, gap.length);
            client_.Send(p);
            requests_.push_front(std::move(gap));
        }
    }
}

void Client::Reader::Consume(std::size_t n)
{
    if (n == 0)
        return;
    Request& head = requests_.front();
    head.dataStart += n;
    position_ += n;
}

// ----------------------------------------------------------------- Writer

Client::Writer::Writer(Client& client, std::string handle, std::uint64_t offset, std::size_t inFlight)
    : client_(client), handle_(std::move(handle)), position_(offset), inFlight_(std::max<std::size_t>(1, inFlight))
{
}

Client::Writer::~Writer()
{
    for (std::uint32_t id : pending_)
        client_.dropped_.insert(id);
}

char* Client::Writer::Space(std::size_t& max)
{
    if (packet_.empty()) {
        // length, type, id, handle, offset, data length; then the data.
        const std::size_t header = 4 + 1 + 4 + 4 + handle_.size() + 8 + 4;
        packet_.reserve(header + client_.writeChunk_);
        packet_.resize(header + client_.writeChunk_);
        filled_ = 0;
    }
    const std::size_t header = packet_.size() - client_.writeChunk_;
    max = client_.writeChunk_ - filled_;
    return packet_.data() + header + filled_;
}

void Client::Writer::Commit(std::size_t n)
{
    filled_ += n;
    if (filled_ == client_.writeChunk_)
        SendPending();
}

void Client::Writer::Write(const void* data, std::size_t size)
{
    const char* in = static_cast<const char*>(data);
    while (size > 0) {
        std::size_t room = 0;
        char* at = Space(room);
        const std::size_t n = std::min(room, size);
        std::memcpy(at, in, n);
        in += n;
        size -= n;
        Commit(n);
    }
}

void Client::Writer::SendPending()
{
    if (abandoned_)
        throw inet::InternetError(inet::err::kInvalidOperation, "The upload was abandoned");
    if (packet_.empty() || filled_ == 0)
        return;
    while (pending_.size() >= inFlight_)
        AwaitOne();
    const std::size_t header = packet_.size() - client_.writeChunk_;
    const std::uint32_t id = client_.NextId();
    char* p = packet_.data();
    PatchU32(p, static_cast<std::uint32_t>(header + filled_ - 4));
    p[4] = static_cast<char>(type::kWrite);
    PatchU32(p + 5, id);
    PatchU32(p + 9, static_cast<std::uint32_t>(handle_.size()));
    std::memcpy(p + 13, handle_.data(), handle_.size());
    char* q = p + 13 + handle_.size();
    PatchU32(q, static_cast<std::uint32_t>(position_ >> 32));
    PatchU32(q + 4, static_cast<std::uint32_t>(position_));
    PatchU32(q + 8, static_cast<std::uint32_t>(filled_));
    client_.channel_.WriteAll(p, header + filled_);
    pending_.push_back(id);
    position_ += filled_;
    filled_ = 0;
}

void Client::Writer::AwaitOne()
{
    Reply& reply = client_.scratch_;
    try {
        client_.NextReply(reply);
    } catch (...) {
        // Whatever went wrong while a confirmation was awaited, this upload is over.
        abandoned_ = true;
        for (std::uint32_t id : pending_)
            client_.dropped_.insert(id);
        pending_.clear();
        throw;
    }
    auto it = std::find(pending_.begin(), pending_.end(), reply.id);
    if (reply.type == type::kVersion || it == pending_.end())
        Invalid("an answer to a write that was not asked");
    pending_.erase(it);
    if (reply.type != type::kStatus)
        Invalid("type " + std::to_string(reply.type) + " where a status was due");
    Decoder d(reply.body.data() + reply.pos, reply.body.size() - reply.pos);
    if (d.U32() != fx::kOk)
        client_.ThrowStatus(reply);
}

void Client::Writer::Finish()
{
    if (abandoned_)
        throw inet::InternetError(inet::err::kInvalidOperation, "The upload was abandoned");
    SendPending();
    while (!pending_.empty())
        AwaitOne();
}

}  // namespace remote::sftp
