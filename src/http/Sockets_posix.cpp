#include "http/Sockets.h"

#include <poll.h>

bool readySockets(std::vector<SocketWatch>& sockets)
{
    std::vector<pollfd> polled;
    polled.reserve(sockets.size());
    for (const SocketWatch& watch : sockets)
        polled.push_back(
            {int(watch.socket), short((watch.read ? POLLIN : 0) | (watch.write ? POLLOUT : 0)), 0});
    if (polled.empty() || ::poll(polled.data(), nfds_t(polled.size()), 0) <= 0)
        return false;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        sockets[i].readable = polled[i].revents & (POLLIN | POLLHUP);
        sockets[i].writable = polled[i].revents & POLLOUT;
        sockets[i].failed = polled[i].revents & POLLERR;
    }
    return true;
}
