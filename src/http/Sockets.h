#pragma once

#include <QtGlobal>

#include <vector>

// A socket and what to watch it for; the answer says what it is ready for.
struct SocketWatch
{
    qintptr socket = -1;
    bool read = false;
    bool write = false;

    bool readable = false; // data, or the peer closed
    bool writable = false;
    bool failed = false;
};

// Fills in which of the sockets are ready now, without waiting; false when none is.
bool readySockets(std::vector<SocketWatch>& sockets);
