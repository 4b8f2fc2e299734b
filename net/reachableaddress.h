// The address a phone on the same network can reach this machine at. A laptop with containers,
// virtual machines or a VPN has bridges and tunnels (docker0, virbr0, veth..., tun0, wg0,
// tailscale0, zt..., ppp0) whose addresses no phone on the local network can reach, and the system
// lists them in no useful order: the interface that carries the default route is the one that faces
// the local network.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

struct NetworkInterfaceInfo {
    QString name;
    bool up = false;
    bool running = false;
    bool loopback = false;
    QList<QHostAddress> addresses;
};

// The first usable IPv4 address of the default route's interface; else the first usable one of
// any real interface, in the order given; else 127.0.0.1. Usable: on an interface that is up,
// running, not loopback and not virtual by its name, and not a link-local address.
QString ChooseReachableAddress(const QList<NetworkInterfaceInfo> &interfaces,
                               const QString &defaultRouteInterface);

// The interface of the IPv4 default route with the lowest metric in the text of
// /proc/net/route; empty when there is none.
QString DefaultRouteInterface(const QByteArray &routeTable);

// ChooseReachableAddress over this machine's interfaces and routes, read now.
QString ReachableAddress();
