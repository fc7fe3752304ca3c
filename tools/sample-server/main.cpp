// Serves the generated sample card collection on 127.0.0.1, and can write the matching local
// data folder with some files missing and some damaged.
#include "SampleCardServer.h"
#include "SampleCollection.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void usage()
{
    std::cerr
        << "usage: kx-sample-server [--port P] [--cards N] [--delay-ms D] [--make-data DIR]\n"
           "                        [--complete-data DIR] [--at-once N] [--per-second R]\n"
           "                        [--burst B] [--busy-status S] [--retry-after SECONDS]\n"
           "  --port P         listen on 127.0.0.1:P (default: any free port)\n"
           "  --cards N        the collection has N cards, a0001 b0001 c0001 d0001 a0002 ...\n"
           "                   (default 40)\n"
           "  --delay-ms D     hold every answer back D milliseconds\n"
           "  --make-data DIR  write the local data folder of the collection into DIR, with\n"
           "                   some files missing or damaged, and exit\n"
           "  --complete-data DIR  the same with every file whole, as a run leaves it\n"
           "  --at-once N      answer at most N requests at once, as a server that limits\n"
           "                   its clients' connections\n"
           "  --per-second R   answer at most R requests a second, and B more at once with\n"
           "  --burst B        --burst, as a server that limits its clients' request rate\n"
           "  --busy-status S  answer requests beyond the limits with status S (default 503;\n"
           "                   429 is the other usual one)\n"
           "  --retry-after SECONDS  ask clients refused to wait this long (Retry-After)\n";
}

} // namespace

int main(int argc, char* argv[])
{
    int port = 0;
    std::size_t cards = 40;
    int delayMs = 0;
    std::string dataFolder;
    bool complete = false;
    SampleCardServer::Limits limits;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--port")
            port = std::atoi(value.c_str());
        else if (option == "--cards")
            cards = std::size_t(std::strtoull(value.c_str(), nullptr, 10));
        else if (option == "--delay-ms")
            delayMs = std::atoi(value.c_str());
        else if (option == "--at-once")
            limits.requestsAtOnce = std::atoi(value.c_str());
        else if (option == "--per-second")
            limits.perSecond = std::atoi(value.c_str());
        else if (option == "--burst")
            limits.burst = std::atoi(value.c_str());
        else if (option == "--busy-status")
            limits.busyStatus = std::atoi(value.c_str());
        else if (option == "--retry-after")
            limits.retryAfter = value;
        else if (option == "--make-data" || option == "--complete-data") {
            dataFolder = value;
            complete = option == "--complete-data";
        } else {
            usage();
            return 2;
        }
    }

    if (!dataFolder.empty()) {
        std::filesystem::create_directories(dataFolder);
        sample::CollectionLayout layout;
        layout.cards = cards;
        if (complete)
            layout.missingPercent = layout.damagedPercent = 0;
        const std::size_t broken = sample::writeCollection(dataFolder, layout);
        std::cout << "Wrote " << cards << " card folders into " << dataFolder << " (" << broken
                  << " files missing or damaged)" << std::endl;
        return 0;
    }

    std::set<std::string> names;
    for (std::size_t i = 0; i < cards; ++i)
        names.insert(sample::cardName(i));
    try {
        SampleCardServer server(std::move(names), port);
        server.setDelay(std::chrono::milliseconds(delayMs));
        server.setLimits(limits);
        std::signal(SIGINT, [](int) { g_stop = 1; });
        std::signal(SIGTERM, [](int) { g_stop = 1; });
        std::cout << "Listening on " << server.origin() << std::endl;
        while (!g_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& error) {
        std::cerr << "kx-sample-server: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
