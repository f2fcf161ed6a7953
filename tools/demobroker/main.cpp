// zrdemobroker: a small module broker for demos and wire tests. It prints
// "port N" as its first line on standard output once it listens, serves
// until SIGINT or SIGTERM, and then exits with code 0.
#include <pthread.h>
#include <signal.h>
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
    "usage: zrdemobroker [--port N] [--bind ADDRESS] [--verbose] [--help]\n"
    "\n"
    "Serves the modules Echo, Math, Store, Faulty and Anywhere over SOAP/HTTP\n"
    "(getModuleByName, callVexel; DIME attachments for Binary values).\n"
    "\n"
    "  --port N          port to listen on; 0 (the default) picks a free one\n"
    "  --bind ADDRESS    address to listen on (default 127.0.0.1)\n"
    "  --verbose         log every connection and request on standard error\n"
    "  --help            show this text\n"
    "\n"
    "The first line on standard output is \"port N\" with the port listened on.\n"
    "SIGINT or SIGTERM stops the broker; it then exits with code 0.\n";

int stopWrite = -1;

void onStopSignal(int) {
    char byte = 's';
    ssize_t written = ::write(stopWrite, &byte, 1);
    (void)written;
}

bool parsePort(const char* text, int& port) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 0 || value > 65535) {
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    std::string address = "127.0.0.1";
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (option == "--verbose") {
            verbose = true;
        } else if (option == "--port" && i + 1 < argc) {
            if (!parsePort(argv[++i], port)) {
                std::fprintf(stderr, "zrdemobroker: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (option == "--bind" && i + 1 < argc) {
            address = argv[++i];
        } else {
            std::fprintf(stderr, "zrdemobroker: unknown or incomplete option '%s'\n\n%s", option.c_str(), usage);
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
