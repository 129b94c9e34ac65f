#include "serve/http_server.h"

#include <QUrl>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace lumiclip {

// One request and its answer. The responder may outlive the request (a client gone while its capture
// was made): after the request has ended, an answer goes nowhere.
struct HttpServer::Exchange final : HttpResponder, std::enable_shared_from_this<Exchange> {
    HttpServer* server = nullptr;
    MHD_Connection* connection = nullptr;
    QByteArray target;
    QByteArray body;
    bool headSeen = false;
    bool tooLarge = false;
    bool dispatched = false;
    std::mutex mutex;
    bool suspended = false;
    bool answered = false;
    bool queued = false;
    HttpAnswer pending;

    void answer(HttpAnswer given) override {
        std::lock_guard lock(mutex);
        if (answered) {
            return;
        }
        answered = true;
        pending = std::move(given);
        if (suspended && connection) {
            suspended = false;
            MHD_resume_connection(connection);
        }
    }
};

namespace {

MHD_Response* makeResponse(HttpAnswer& answer) {
    MHD_Response* response = nullptr;
    if (answer.fd >= 0) {
        response = MHD_create_response_from_fd(static_cast<size_t>(answer.fdSize), answer.fd);
        if (!response) {
            ::close(answer.fd);
        }
        answer.fd = -1;
    } else {
        response = MHD_create_response_from_buffer(static_cast<size_t>(answer.body.size()),
                                                   answer.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (!response) {
        return nullptr;
    }
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.constData(), value.constData());
    }
    return response;
}

MHD_Result queue(MHD_Connection* connection, HttpAnswer answer) {
    MHD_Response* response = makeResponse(answer);
    if (!response) {
        return MHD_NO;
    }
    const MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return result;
}

HttpAnswer plain(int status, const QByteArray& json) {
    HttpAnswer answer;
    answer.status = status;
    answer.headers = {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};
    answer.body = json;
    return answer;
}

// A body up to this many times the largest is read to its end before it is refused.
constexpr qint64 kDrainFactor = 16;

HttpAnswer tooLargeAnswer(qint64 maxBody) {
    return plain(413, QByteArrayLiteral(R"({"error": "the request body is larger than )") +
                          QByteArray::number(maxBody) +
                          QByteArrayLiteral(R"( bytes", "error_kind": "bad_request"})"));
}

QString peerOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) {
        return {};
    }
    return QHostAddress(info->client_addr).toString();
}

}  // namespace

struct HttpServer::Callbacks {
    static void* onUri(void* cls, const char* uri, MHD_Connection* connection);
    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char* uploadData, size_t* uploadDataSize,
                                void** context);
    static void onCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode reason);
    static void onConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code);
};

QByteArray HttpRequest::header(QByteArrayView name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

QByteArray HttpRequest::rawQuery() const {
    const qsizetype mark = target.indexOf('?');
    if (mark < 0) {
        return {};
    }
    const QByteArray raw = target.mid(mark + 1);
    const qsizetype fragment = raw.indexOf('#');
    return fragment < 0 ? raw : raw.left(fragment);
}

HttpServer::HttpServer(Handler handler, HttpLimits limits)
    : m_handler(std::move(handler)),
      m_limits(limits),
      m_watchdog(limits.requestTime, std::chrono::seconds(limits.idleSeconds)) {}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::start(const QHostAddress& address, quint16 port, QString* error) {
    sockaddr_storage storage{};
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        flags |= MHD_USE_IPv6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    m_daemon = MHD_start_daemon(flags, port, nullptr, nullptr, &Callbacks::onRequest, this,
                                MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&storage),    //
                                MHD_OPTION_THREAD_POOL_SIZE, m_limits.threads,                  //
                                MHD_OPTION_CONNECTION_LIMIT, m_limits.connections,              //
                                MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_limits.perClient,         //
                                MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds,            //
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.connectionMemory,  //
                                MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::onUri, this,           //
                                MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::onCompleted, this,     //
                                MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::onConnection, this,   //
                                MHD_OPTION_END);
    if (!m_daemon) {
        *error = QStringLiteral("cannot listen on %1 port %2 (in use, or not an address of this machine)")
                     .arg(address.toString(), QString::number(port));
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : port;
    m_watchdog.start();
    return true;
}

void HttpServer::stopListening() {
    if (m_daemon) {
        const MHD_socket socket = MHD_quiesce_daemon(m_daemon);
        if (socket != MHD_INVALID_SOCKET) {
            ::close(socket);
        }
    }
}

void HttpServer::stop() {
    if (!m_daemon) {
        return;
    }
    m_watchdog.stop();
    // A connection set aside must be resumed before the daemon stops: its answer is a 503.
    std::vector<std::shared_ptr<Exchange>> owed;
    {
        std::lock_guard lock(m_exchangesMutex);
        for (const auto& [raw, weak] : m_exchanges) {
            if (std::shared_ptr<Exchange> exchange = weak.lock()) {
                owed.push_back(exchange);
            }
        }
    }
    for (const std::shared_ptr<Exchange>& exchange : owed) {
        exchange->answer(plain(503, R"({"error": "the server is stopping", "error_kind": "interrupted"})"));
    }
    if (!owed.empty()) {
        // Let the threads send what was just resumed.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

void HttpServer::Callbacks::onConnection(void* cls, MHD_Connection* connection, void**,
                                         MHD_ConnectionNotificationCode code) {
    auto* server = static_cast<HttpServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        server->m_watchdog.opened(connection, info ? info->connect_fd : -1);
    } else {
        server->m_watchdog.closed(connection);
    }
}

void* HttpServer::Callbacks::onUri(void* cls, const char* uri, MHD_Connection* connection) {
    auto* server = static_cast<HttpServer*>(cls);
    auto exchange = std::make_shared<Exchange>();
    exchange->server = server;
    exchange->connection = connection;
    exchange->target = QByteArray(uri);
    {
        std::lock_guard lock(server->m_exchangesMutex);
        server->m_exchanges.emplace(exchange.get(), exchange);
    }
    return new std::shared_ptr<Exchange>(std::move(exchange));
}

void HttpServer::Callbacks::onCompleted(void* cls, MHD_Connection* connection, void** context,
                                        MHD_RequestTerminationCode) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (holder) {
        {
            std::lock_guard lock((*holder)->mutex);
            (*holder)->connection = nullptr;
            (*holder)->answered = true;
            if ((*holder)->dispatched && !(*holder)->queued) {
                --server->m_waiting;
            }
        }
        {
            std::lock_guard lock(server->m_exchangesMutex);
            server->m_exchanges.erase(holder->get());
        }
        delete holder;
        *context = nullptr;
    }
    // The next request on the connection has its own time from now.
    server->m_watchdog.answered(connection);
}

MHD_Result HttpServer::Callbacks::onRequest(void* cls, MHD_Connection* connection, const char* url,
                                            const char* method, const char*, const char* uploadData,
                                            size_t* uploadDataSize, void** context) {
    return static_cast<HttpServer*>(cls)->handle(connection, url, method, uploadData, uploadDataSize, context)
               ? MHD_YES
               : MHD_NO;
}

int HttpServer::handle(MHD_Connection* connection, const char* url, const char* method,
                       const char* uploadData, size_t* uploadDataSize, void** context) {
    auto* holder = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (!holder) {
        return MHD_NO;
    }
    const std::shared_ptr<Exchange> exchange = *holder;
    if (exchange->dispatched) {
        // Resumed: the answer is there.
        std::lock_guard lock(exchange->mutex);
        if (exchange->queued) {
            return MHD_YES;
        }
        exchange->queued = true;
        --m_waiting;
        return queue(connection, std::move(exchange->pending));
    }
    if (!exchange->headSeen) {
        // The first call comes with the head alone; the body, if any, and a last empty call follow.
        exchange->headSeen = true;
        // A body announced larger than the server takes is refused. One not much larger is read and
        // dropped first: a connection closed on a client still sending would lose it the answer.
        const char* declared = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
        if (declared) {
            bool ok = false;
            const qint64 length = QByteArray(declared).trimmed().toLongLong(&ok);
            exchange->tooLarge = !ok || length > m_limits.maxBody;
            if (exchange->tooLarge && (!ok || length > kDrainFactor * m_limits.maxBody)) {
                exchange->dispatched = true;
                exchange->queued = true;
                return queue(connection, tooLargeAnswer(m_limits.maxBody));
            }
        }
        return MHD_YES;
    }
    if (*uploadDataSize > 0) {
        const qint64 size = static_cast<qint64>(*uploadDataSize);
        *uploadDataSize = 0;
        if (exchange->tooLarge) {
            return MHD_YES;  // dropped; the answer is a 413
        }
        if (exchange->body.size() + size > m_limits.maxBody) {
            // A body without a length that runs over: the connection is dropped rather than read on.
            return MHD_NO;
        }
        exchange->body.append(uploadData, static_cast<qsizetype>(size));
        return MHD_YES;
    }
    m_watchdog.requestIn(connection);
    if (exchange->tooLarge) {
        exchange->dispatched = true;
        exchange->queued = true;
        return queue(connection, tooLargeAnswer(m_limits.maxBody));
    }
    HttpRequest request;
    request.method = QByteArray(method);
    request.path = QByteArray(url);
    request.target = exchange->target;
    request.peer = peerOf(connection);
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* to, MHD_ValueKind, const char* key, const char* value) {
            static_cast<HttpRequest*>(to)->headers.append({QByteArray(key), QByteArray(value ? value : "")});
            return MHD_YES;
        },
        &request);
    MHD_get_connection_values(
        connection, MHD_GET_ARGUMENT_KIND,
        [](void* to, MHD_ValueKind, const char* key, const char* value) {
            static_cast<HttpRequest*>(to)->query.append(
                {QString::fromUtf8(key), QString::fromUtf8(value ? value : "")});
            return MHD_YES;
        },
        &request);
    request.body = exchange->body;
    exchange->dispatched = true;
    ++m_waiting;
    m_handler(request, exchange);
    std::lock_guard lock(exchange->mutex);
    if (exchange->answered && !exchange->queued) {
        exchange->queued = true;
        --m_waiting;
        return queue(connection, std::move(exchange->pending));
    }
    exchange->suspended = true;
    MHD_suspend_connection(connection);
    return MHD_YES;
}

}  // namespace lumiclip
