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

const char usage[] =
    "usage: zrdemobroker [--port N] [--bind ADDRESS] [--max-connections N]\n"
    "                    [--lookup-delay SECONDS] [--report-port N] [--verbose] [--help]\n"
    "\n"
    "Serves the modules Echo, Math, Store, Faulty and Anywhere over SOAP/HTTP\n"
    "(getModuleByName, callVexel; DIME attachments for Binary values).\n"
    "\n"
    "  --port N          port to listen on; 0 (the default) picks a free one\n"
    "  --bind ADDRESS    address to listen on (default 127.0.0.1)\n"
    "  --max-connections N\n"
    "                    connections served at once (default 1024); more are\n"
    "                    closed at once\n"
    "  --lookup-delay SECONDS\n"
    "                    answer each look-up only after this long (default 0)\n"
    "  --report-port N   report every module at port N, as if it ran in a\n"
    "                    process of its own (default: the broker's port)\n"
    "  --verbose         log every connection and request on standard error\n"
    "  --help            show this text\n"
    "\n"
    "The first line on standard output is \"port N\" with the port listened on.\n"
    "SIGINT or SIGTERM stops the broker; it then exits with code 0.\n";

int stopWrite = -1;

void onStopSignal(int)
{
    char byte = 's';
    ssize_t written = ::write(stopWrite, &byte, 1);
    (void)written;
}

// A whole decimal number from `lowest` to `highest`, nothing else.
bool parseInteger(const char* text, long lowest, long highest, int& number)
{
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < lowest || value > highest) {
        return false;
    }
    number = static_cast<int>(value);
    return true;
}

bool parseSeconds(const char* text, double& seconds)
{
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(value >= 0 && value <= 3600)) {
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
    int maxConnections = ZRDemo::BrokerServer::defaultMaxConnections;
    double lookupDelay = 0;
    int reportedPort = 0;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
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
            if (!parseInteger(argv[++i], 1, 1000000, maxConnections)) {
                std::fprintf(stderr, "zrdemobroker: bad connection count '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--report-port" && i + 1 < argc) {
            if (!parseInteger(argv[++i], 0, 65535, reportedPort)) {
                std::fprintf(stderr, "zrdemobroker: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--lookup-delay" && i + 1 < argc) {
            if (!parseSeconds(argv[++i], lookupDelay)) {
                std::fprintf(stderr, "zrdemobroker: bad delay '%s'\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "zrdemobroker: unknown or incomplete option '%s'\n\n%s", option.c_str(),
                         usage);
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
        ZRDemo::BrokerServer server;
        server.setVerbose(verbose);
        server.setMaxConnections(maxConnections);
        server.setLookupDelay(lookupDelay);
        server.setReportedPort(reportedPort);
        allowDescriptors(maxConnections);
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
