// The library's connection: initialisation, close, the send step, the receive
// loop and the operations of the public header.
#include "library.h"
#include "kova.h"

#include <string.h> // explicit_bzero

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kova {

namespace {

struct Connection {
    std::unique_ptr<Transport> transport;
    KOVA_REPLY_CALLBACK replyCallback = nullptr;
    KOVA_ERROR_CALLBACK errorCallback = nullptr;
    ItemTable table;
    bool closed = false;          // set by kova_Close; no callback starts once it is set
    bool loopStarted = false;     // cleared only by closing
    uint32_t systemDropsSeen = 0; // the socket's drop count at its latest datagram
};

struct ReceiveThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
};

// Library-wide state. One mutex guards the connection, the item tables and
// every record; it is never held while a client callback runs.
struct Library {
    std::mutex mutex;
    std::shared_ptr<Connection> current;
    uint8_t protocolVersion = 0;
    RecordRegistry registry;
    size_t droppedReplies = 0; // replies from new devices that found their table full
    size_t systemDrops = 0;    // datagrams the system dropped, receive buffers full
    std::vector<ReceiveThread> threads;
    TransportFactory transportFactory;
    wire::BlockRandom blockRandom;
};

// Never destroyed: a receive thread stuck in a client callback at exit may
// still reach it. The records are released by the exit hook below.
Library &Lib() {
    static Library *library = new Library;
    return *library;
}

// Marks the current connection closed and wakes its receive loop; the caller
// holds the mutex.
void CloseLocked(Library &lib) {
    if (!lib.current)
        return;
    lib.current->closed = true;
    lib.current->loopStarted = false;
    lib.current->transport->Wake();
    lib.current.reset(); // the receive thread keeps its own reference to the socket
}

void ReceiveLoop(std::shared_ptr<Connection> c, std::shared_ptr<std::atomic<bool>> finished) {
    Library &lib = Lib();
    uint8_t work[KOVA_MAX_DATAGRAM];
    for (;;) {
        std::memset(work, 0, sizeof work);
        const Received r = c->transport->Receive(work);
        if (r.status == Received::Status::Woken)
            break;
        if (r.status == Received::Status::Failed) {
            KOVA_ERROR_CALLBACK report = nullptr;
            {
                std::lock_guard lock(lib.mutex);
                if (!c->closed)
                    report = c->errorCallback;
            }
            if (report != nullptr)
                report(KOVA_ERR_SOCKET, kova_ErrorText(KOVA_ERR_SOCKET));
            break;
        }
        // Empty and oversized datagrams are dropped like any malformed one.
        if (r.length == 0 || r.length > KOVA_MAX_DATAGRAM)
            continue;
        const auto event = wire::EventForReply(std::span<const uint8_t>(work, r.length));
        if (!event)
            continue;
        KOVA_REPLY_CALLBACK callback = nullptr;
        KOVA_ITEM *item = nullptr;
        {
            std::lock_guard lock(lib.mutex);
            if (c->closed)
                break;
            if (r.systemDrops > c->systemDropsSeen) {
                lib.systemDrops += r.systemDrops - c->systemDropsSeen;
                c->systemDropsSeen = r.systemDrops;
            }
            callback = c->replyCallback;
            if (callback == nullptr)
                continue;
            try {
                item =
                    c->table.Store(lib.registry, std::span<const uint8_t, KOVA_MAX_DATAGRAM>(work),
                                   r.length, r.sender);
            } catch (const std::exception &) {
                continue; // no memory for a new record: the reply is lost
            }
            if (item == nullptr) {
                ++lib.droppedReplies;
                continue;
            }
            // A device heard on several interfaces keeps the latest.
            item->arrivalIndex = r.interfaceIndex;
            std::memcpy(item->arrivalInterface, r.interfaceName, sizeof r.interfaceName);
            item->arrivalInterface[sizeof item->arrivalInterface - 1] = '\0';
        }
        callback(item, *event, 0);
    }
    c.reset();
    finished->store(true, std::memory_order_release);
}

// Starts the receive loop of `c` unless one was started since the last close.
void StartLoop(Library &lib, const std::shared_ptr<Connection> &c) {
    std::lock_guard lock(lib.mutex);
    if (c != lib.current || c->loopStarted)
        return;
    c->loopStarted = true; // set even when the start fails: not retried before a close
    try {
        lib.threads.reserve(lib.threads.size() + 1); // the push below must not throw
        auto finished = std::make_shared<std::atomic<bool>>(false);
        std::thread thread(ReceiveLoop, c, finished);
        lib.threads.push_back({std::move(thread), std::move(finished)});
    } catch (const std::exception &) {
    }
}

// Joins the threads that have ended, without ever waiting for a running one.
void JoinFinished(std::vector<ReceiveThread> &pending) {
    std::vector<ReceiveThread> still;
    for (auto &t : pending) {
        if (t.finished->load(std::memory_order_acquire) &&
            t.thread.get_id() != std::this_thread::get_id())
            t.thread.join();
        else
            still.push_back(std::move(t));
    }
    pending = std::move(still);
}

void Reap(Library &lib) {
    std::vector<ReceiveThread> pending;
    {
        std::lock_guard lock(lib.mutex);
        pending.swap(lib.threads);
    }
    JoinFinished(pending);
    std::lock_guard lock(lib.mutex);
    for (auto &t : pending)
        lib.threads.push_back(std::move(t));
}

// Broadcasts a finished request, out of the interface with index `via` only
// when that is not 0. Starts the receive loop after a successful send.
int32_t SendAndListen(Library &lib, const std::shared_ptr<Connection> &c,
                      std::span<const uint8_t> datagram, unsigned via = 0) {
    const bool sent =
        via != 0 ? c->transport->BroadcastVia(datagram, via) : c->transport->Broadcast(datagram);
    if (!sent)
        return KOVA_ERR_SOCKET;
    StartLoop(lib, c);
    return KOVA_OK;
}

int32_t Initialise(const KOVA_CONFIG *config, const char *bindAddress, bool withAddress) {
    Library &lib = Lib();
    {
        std::lock_guard lock(lib.mutex);
        CloseLocked(lib);
        lib.protocolVersion = 0;
    }
    Reap(lib);
    if (withAddress && (bindAddress == nullptr || std::strlen(bindAddress) > 16))
        return KOVA_ERR_INVALID_ARG;
    if (config == nullptr)
        return KOVA_ERR_INVALID_ARG;
    if (config->classId == 3)
        return KOVA_ERR_NOT_IMPLEMENTED;
    if (config->classId != KOVA_CLASS_ID)
        return KOVA_ERR_BAD_CLASS_ID;

    const std::string address = withAddress ? bindAddress : "";
    TransportFactory factory;
    {
        std::lock_guard lock(lib.mutex);
        factory = lib.transportFactory;
    }
    int32_t error = KOVA_ERR_SOCKET;
    std::unique_ptr<Transport> transport =
        factory ? factory(address, error) : OpenUdpTransport(address, error);
    if (!transport)
        return error != KOVA_OK ? error : KOVA_ERR_SOCKET;

    auto c = std::make_shared<Connection>();
    c->transport = std::move(transport);
    c->replyCallback = config->replyCallback;
    c->errorCallback = config->errorCallback;

    std::lock_guard lock(lib.mutex);
    CloseLocked(lib); // another thread may have initialised meanwhile
    lib.current = std::move(c);
    lib.protocolVersion = wire::kDefaultVersion;
    return KOVA_OK;
}

// Copies the record behind `item` under the lock; false for a handle that the
// library never issued.
bool CopyItem(Library &lib, HKOVAITEM item, KOVA_ITEM &copy) {
    std::lock_guard lock(lib.mutex);
    if (!lib.registry.Contains(item))
        return false;
    copy = *item;
    return true;
}

// Common path of the three configuration requests.
template <typename Build> int32_t ConfigurationRequest(HKOVAITEM item, Build build) {
    Library &lib = Lib();
    std::shared_ptr<Connection> c;
    KOVA_ITEM copy{};
    wire::BlockRandom random;
    {
        std::lock_guard lock(lib.mutex);
        c = lib.current;
        if (!c)
            return KOVA_ERR_NOT_INITIALISED;
        if (item == nullptr || !lib.registry.Contains(item))
            return KOVA_ERR_BAD_HANDLE;
        copy = *item;
        random = lib.blockRandom;
    }
    std::vector<uint8_t> request;
    std::vector<uint8_t> datagram;
    int32_t code = build(copy, random, request);
    if (code == KOVA_OK) {
        datagram = wire::Finish(request, copy.version, copy.trailer);
        // A request leaves through the interface the device was last heard on.
        code = SendAndListen(lib, c, datagram, copy.arrivalIndex);
    }
    // The credential blocks are masked, not encrypted: no copy stays behind.
    // (An empty vector's data() may be null, which explicit_bzero may not take.)
    for (std::vector<uint8_t> *bytes : {&request, &datagram})
        if (!bytes->empty())
            explicit_bzero(bytes->data(), bytes->size());
    return code;
}

template <typename Fn> int32_t Guarded(Fn fn) {
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        return KOVA_ERR_NO_MEMORY;
    } catch (...) {
        return KOVA_ERR_GENERAL;
    }
}

template <typename Out, typename Fn> int32_t Decode(HKOVAITEM item, Out *out, Fn fn) {
    if (item == nullptr)
        return KOVA_ERR_BAD_HANDLE;
    if (out == nullptr)
        return KOVA_ERR_INVALID_ARG;
    KOVA_ITEM copy;
    if (!CopyItem(Lib(), item, copy))
        return KOVA_ERR_BAD_HANDLE;
    return fn(copy, *out);
}

// Ends the receive loops at exit, waiting a little for them, and releases the
// records when no thread can touch them any more.
struct ExitHook {
    ExitHook() { Lib(); }
    ~ExitHook() {
        Library &lib = Lib();
        {
            std::lock_guard lock(lib.mutex);
            CloseLocked(lib);
        }
        if (internal::ReapReceiveThreads(std::chrono::milliseconds(1000)) != 0)
            return; // a callback is still running: keep everything it might use
        std::lock_guard lock(lib.mutex);
        lib.registry.ReleaseAll();
    }
} exitHook;

} // namespace

namespace internal {

void SetTransportFactory(TransportFactory factory) {
    std::lock_guard lock(Lib().mutex);
    Lib().transportFactory = std::move(factory);
}

void SetBlockRandom(wire::BlockRandom random) {
    std::lock_guard lock(Lib().mutex);
    Lib().blockRandom = std::move(random);
}

size_t OutstandingReceiveThreads() {
    std::lock_guard lock(Lib().mutex);
    return Lib().threads.size();
}

size_t ReapReceiveThreads(std::chrono::milliseconds wait) {
    Library &lib = Lib();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        Reap(lib);
        const size_t left = OutstandingReceiveThreads();
        if (left == 0 || std::chrono::steady_clock::now() >= deadline)
            return left;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

size_t RecordCount() {
    std::lock_guard lock(Lib().mutex);
    return Lib().registry.Size();
}

size_t DroppedReplies() {
    std::lock_guard lock(Lib().mutex);
    return Lib().droppedReplies;
}

} // namespace internal

} // namespace kova

using namespace kova;

extern "C" {

int32_t kova_Initialise(const KOVA_CONFIG *config) {
    return Guarded([&] { return Initialise(config, nullptr, false); });
}

int32_t kova_InitialiseEx(const KOVA_CONFIG *config, const char *bindAddress) {
    return Guarded([&] { return Initialise(config, bindAddress, true); });
}

void kova_Close(void) {
    Library &lib = Lib();
    std::lock_guard lock(lib.mutex);
    CloseLocked(lib);
}

int32_t kova_SendDiscovery(void) {
    return Guarded([] {
        Library &lib = Lib();
        std::shared_ptr<Connection> c;
        uint8_t version = 0;
        {
            std::lock_guard lock(lib.mutex);
            c = lib.current;
            if (!c)
                return KOVA_ERR_NOT_INITIALISED;
            version = lib.protocolVersion;
        }
        return SendAndListen(lib, c, wire::BuildDiscovery(version));
    });
}

int32_t kova_SetProtocolType(int32_t type) {
    std::lock_guard lock(Lib().mutex);
    Lib().protocolVersion = wire::ProtocolVersionForType(type);
    return KOVA_OK;
}

KOVA_VERSION kova_GetVersion(void) {
    return KOVA_VERSION{3, 1, 0, 0};
}

int32_t kova_GetLostReplies(uint32_t *tableFull, uint32_t *bufferFull) {
    Library &lib = Lib();
    std::lock_guard lock(lib.mutex);
    if (tableFull != nullptr)
        *tableFull = static_cast<uint32_t>(lib.droppedReplies);
    if (bufferFull != nullptr)
        *bufferFull = static_cast<uint32_t>(lib.systemDrops);
    return KOVA_OK;
}

const char *kova_ErrorText(int32_t code) {
    static const char *const texts[] = {"OK",
                                        "General Error",
                                        "This feature is not implemented",
                                        "kova_Initialise() has not been called",
                                        "One or more arguments are invalid",
                                        "Ran out of memory",
                                        "Socket error",
                                        "No such class id supported",
                                        "HKOVAITEM handler is not correct"};
    if (code < 0 || code > KOVA_ERR_BAD_HANDLE)
        return texts[KOVA_ERR_GENERAL];
    return texts[code];
}

int32_t kova_GetDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info) {
    return Decode(item, info, [](const KOVA_ITEM &copy, KOVA_DEVICE_INFO &out) {
        wire::DecodeDeviceInfo(StoredBytes(copy), copy.sourceAddress, out);
        return KOVA_OK;
    });
}

int32_t kova_GetNetworkSettings(HKOVAITEM item, KOVA_NETWORK_SETTINGS *settings) {
    return Decode(item, settings, [](const KOVA_ITEM &copy, KOVA_NETWORK_SETTINGS &out) {
        wire::DecodeNetworkSettings(StoredBytes(copy), out);
        return KOVA_OK;
    });
}

int32_t kova_GetGuestAccount(HKOVAITEM item, int32_t *guestAccount) {
    return Decode(item, guestAccount, [](const KOVA_ITEM &copy, int32_t &out) {
        out = wire::DecodeGuestAccount(StoredBytes(copy));
        return KOVA_OK;
    });
}

int32_t kova_GetItemFlag(HKOVAITEM item, int32_t *flag) {
    return Decode(item, flag, [](const KOVA_ITEM &, int32_t &out) {
        out = 1;
        return KOVA_OK;
    });
}

int32_t kova_GetServicePorts(HKOVAITEM item, KOVA_SERVICE_PORTS *ports) {
    return Decode(item, ports, [](const KOVA_ITEM &copy, KOVA_SERVICE_PORTS &out) {
        return wire::DecodeServicePorts(StoredBytes(copy), out);
    });
}

int32_t kova_GetFirmwareInfo(HKOVAITEM item, KOVA_FIRMWARE_INFO *firmware) {
    return Decode(item, firmware, [](const KOVA_ITEM &copy, KOVA_FIRMWARE_INFO &out) {
        return wire::DecodeFirmwareInfo(StoredBytes(copy), out);
    });
}

int32_t kova_GetReplyVersion(HKOVAITEM item, int32_t *version) {
    return Decode(item, version, [](const KOVA_ITEM &copy, int32_t &out) {
        out = wire::ReplyVersion(StoredBytes(copy));
        return KOVA_OK;
    });
}

int32_t kova_GetReplyInterface(HKOVAITEM item, char *name) {
    return Decode(item, name, [](const KOVA_ITEM &copy, char &out) {
        std::memcpy(&out, copy.arrivalInterface, KOVA_INTERFACE_NAME_SIZE);
        return KOVA_OK;
    });
}

int32_t kova_SetNetworkSettings(HKOVAITEM item, const char *userId, const char *password,
                                const KOVA_NETWORK_SETTINGS *settings) {
    return Guarded([&] {
        return ConfigurationRequest(item, [&](const KOVA_ITEM &copy,
                                              const wire::BlockRandom &random,
                                              std::vector<uint8_t> &request) {
            return wire::BuildSetNetwork(copy, userId, password, settings, random, request);
        });
    });
}

int32_t kova_SetHostName(HKOVAITEM item, const char *userId, const char *password,
                         const char *hostName, const char *domainName) {
    return Guarded([&] {
        return ConfigurationRequest(item, [&](const KOVA_ITEM &copy,
                                              const wire::BlockRandom &random,
                                              std::vector<uint8_t> &request) {
            return wire::BuildSetHostName(copy, userId, password, hostName, domainName, random,
                                          request);
        });
    });
}

int32_t kova_SetAccount(HKOVAITEM item, const char *userId, const char *password,
                        const char *newPassword, const int32_t *guestAllowed) {
    return Guarded([&] {
        return ConfigurationRequest(item, [&](const KOVA_ITEM &copy,
                                              const wire::BlockRandom &random,
                                              std::vector<uint8_t> &request) {
            return wire::BuildSetAccount(copy, userId, password, newPassword, guestAllowed, random,
                                         request);
        });
    });
}

} // extern "C"
