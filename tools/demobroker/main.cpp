// SPDX-License-Identifier: GPL-2.0-or-later
// zrdemobroker: a small module broker for demos and wire tests. It prints
// "port N" as its first line on standard output once it listens, serves
// until SIGINT or SIGTERM, and then exits with code 0.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "brokerserver.h"

namespace {

const char usageText[] =
    "usage: zrdemobroker [--port N] [--bind ADDRESS] [--max-connections N]\n"
    "                    [--max-per-client N] [--idle-limit SECONDS]\n"
    "                    [--max-reply-bytes N] [--reply-memory N] [--store-limit N]\n"
    "                    [--lookup-delay SECONDS] [--report-port N] [--verbose] [--help]\n"
    "\n"
    "Serves the modules Echo, Math, Store, Faulty and Anywhere over SOAP/HTTP\n"
    "(getModuleByName, callVexel; DIME attachments for Binary values).\n"
    "\n"
    "  --port N          port to listen on; 0 (the default) picks a free one\n"
    "  --bind ADDRESS    address to listen on (default 127.0.0.1)\n"
    "  --max-connections N\n"
    "                    connections served at once (default 2048); more are\n"
    "                    closed at once\n"
    "  --max-per-client N\n"
    "                    connections one client address may hold at once\n"
    "                    (default: half of --max-connections); more are closed\n"
    "                    at once\n"
    "  --idle-limit SECONDS\n"
    "                    time a connection has to send one whole request, from\n"
    "                    when the broker starts waiting for it, and to take one\n"
    "                    whole reply (default 120); a connection that does not\n"
    "                    is closed, however many bytes it trickles\n"
    "  --max-reply-bytes N\n"
    "                    largest reply, as encoded (default 134217728); a\n"
    "                    larger one is refused with the fault \"Reply too large\"\n"
    "  --reply-memory N  bytes that all replies being built and sent may hold\n"
    "                    together (default 536870912); a reply that finds no\n"
    "                    room gets the fault \"Broker busy\"\n"
    "  --store-limit N   bytes that Store keeps in all, names and a small cost\n"
    "                    per entry included (default 268435456); a put beyond\n"
    "                    it gets the fault \"Store full\"\n"
    "  --lookup-delay SECONDS\n"
    "                    answer each look-up only after this long (default 0)\n"
    "  --report-port N   report every module at port N, as if it ran in a\n"
    "                    process of its own (default: the broker's port)\n"
    "  --verbose         log every connection and request on standard error\n"
    "  --help            show this text\n"
    "\n"
    "A request is at most 134217728 bytes.\n"
    "The first line on standard output is \"port N\" with the port listened on.\n"
    "SIGINT or SIGTERM stops the broker; it then exits with code 0.\n"
    "\n";

// The options, then the module listing from the method table.
std::string usage()
{
    return usageText + ZRDemo::describeModules();
}

int stopWrite = -1;

void onStopSignal(int)
{
    char byte = 's';
    ssize_t written = ::write(stopWrite, &byte, 1);
    (void)written;
}

// A whole decimal number from `lowest` to `highest`, nothing else.
template <typename Number>
bool parseInteger(const char* text, long long lowest, long long highest, Number& number)
{
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < lowest || value > highest) {
        return false;
    }
    number = static_cast<Number>(value);
    return true;
}

// Seconds from `lowest` to an hour.
bool parseSeconds(const char* text, double lowest, double& seconds)
{
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(value >= lowest && value <= 3600)) {
        return false;
    }
    seconds = value;
    return true;
}

// Each connection takes a descriptor; the usual soft limit of 1024 would
// refuse connections well below the configured maximum.
void allowDescriptors(int connections)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    const rlim_t wanted = static_cast<rlim_t>(connections) + 64;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur =
            (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted) ? wanted : limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int port = 0;
    std::string address = "127.0.0.1";
    bool verbose = false;
    ZRDemo::BrokerLimits limits;
    double lookupDelay = 0;
    int reportedPort = 0;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(usage().c_str(), stdout);
            return 0;
        }
        if (option == "--verbose") {
            verbose = true;
        } else if (option == "--port" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 65535, port)) {
                std::fprintf(stderr, "zrdemobroker: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--bind" && i + 1 < argc) {
            address = argv[++i];
        } else if (option == "--max-connections" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 1, 1000000, limits.maxConnections)) {
                std::fprintf(stderr, "zrdemobroker: bad connection count '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--max-per-client" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 1, 1000000, limits.maxPerClient)) {
                std::fprintf(stderr, "zrdemobroker: bad connection count '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--idle-limit" && i + 1 < argc) {
            if (!parseSeconds(argv[++i], 0.001, limits.idleSeconds)) {
                std::fprintf(stderr, "zrdemobroker: bad idle limit '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--max-reply-bytes" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 1, 1LL << 40, limits.maxReplyBytes)) {
                std::fprintf(stderr, "zrdemobroker: bad byte count '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--reply-memory" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 1, 1LL << 40, limits.replyMemory)) {
                std::fprintf(stderr, "zrdemobroker: bad byte count '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--store-limit" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 1LL << 40, limits.storeBytes)) {
                std::fprintf(stderr, "zrdemobroker: bad byte count '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--report-port" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 65535, reportedPort)) {
                std::fprintf(stderr, "zrdemobroker: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--lookup-delay" && i + 1 < argc) {
            if (!parseSeconds(argv[++i], 0, lookupDelay)) {
                std::fprintf(stderr, "zrdemobroker: bad delay '%s'\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "zrdemobroker: unknown or incomplete option '%s'\n\n%s", option.c_str(),
                         usage().c_str());
            return 2;
        }
    }

    int stopPipe[2];
    if (::pipe(stopPipe) != 0) {
        std::perror("zrdemobroker: pipe");
        return 1;
    }
    stopWrite = stopPipe[1];
    // A parent such as Octave may start us with these signals blocked, and
    // the mask survives exec: without this the broker could not be stopped.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        ZRDemo::BrokerServer server(limits);
        server.setVerbose(verbose);
        server.setLookupDelay(lookupDelay);
        server.setReportedPort(reportedPort);
        allowDescriptors(limits.maxConnections);
        server.bind(address, port);
        std::printf("port %d\n", server.port());
        std::fflush(stdout);
        server.run(stopPipe[0]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zrdemobroker: %s\n", error.what());
        return 1;
    }
    return 0;
}
