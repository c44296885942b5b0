#include "core/usb/port/PacketProtocol.h"

#include <algorithm>

PacketSink::~PacketSink() = default;

PacketProtocol::PacketProtocol(PacketSink& session, Port& port) : session_(session), port_(port), attached_(true) {
    port_.attach(this);
    subjects_.push_back(&port_);
}

PacketProtocol::~PacketProtocol() { detachFromPort(); }

void PacketProtocol::detachFromPort() {
    if (!attached_) return;
    attached_ = false;
    port_.detach(this);
    subjects_.remove(&port_);
}

void PacketProtocol::onData(Data* packet) {
    if (packet != nullptr) session_.onPacket(*packet);
}

void PacketProtocol::send(Data& request) { port_.exchangeBidi(request); }

void PacketProtocol::setTimeout(uint32_t) {}
