#include "http/Sockets.h"

#include <winsock2.h>

bool readySockets(std::vector<SocketWatch>& sockets)
{
    std::vector<WSAPOLLFD> polled;
    polled.reserve(sockets.size());
    for (const SocketWatch& watch : sockets)
        polled.push_back({SOCKET(watch.socket),
                          short((watch.read ? POLLRDNORM : 0) | (watch.write ? POLLWRNORM : 0)),
                          0});
    if (polled.empty() || ::WSAPoll(polled.data(), ULONG(polled.size()), 0) <= 0)
        return false;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        sockets[i].readable = polled[i].revents & (POLLRDNORM | POLLHUP);
        sockets[i].writable = polled[i].revents & POLLWRNORM;
        sockets[i].failed = polled[i].revents & (POLLERR | POLLNVAL);
    }
    return true;
}
