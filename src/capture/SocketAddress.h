#pragma once

#include "logs/LogFile.h"

#include <QHostAddress>

#include <sys/socket.h>

// The system's form of an address and port, for the sockets the capture owns.
socklen_t toSocketAddress(const QHostAddress& address, quint16 port, sockaddr_storage& storage);
QHostAddress fromSocketAddress(const sockaddr_storage& storage, quint16& port);
