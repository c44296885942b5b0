#include "core/ipc/IpcEndpoint.h"

IpcEndpoint::IpcEndpoint() : mapper_(nullptr) {}
IpcEndpoint::~IpcEndpoint() = default;

int32_t IpcEndpoint::disconnect() { return kNotSupported; }
int32_t IpcEndpoint::send(const Data&) { return kNotSupported; }
int32_t IpcEndpoint::receive(Data&) { return kNotSupported; }
std::unique_ptr<IpcEndpoint> IpcEndpoint::accept() { return std::unique_ptr<IpcEndpoint>(new IpcEndpoint()); }
int32_t IpcEndpoint::start() { return kNotSupported; }
void IpcEndpoint::stop() {}
void IpcEndpoint::setProperties(const std::string& text) { properties_ = text; }
void IpcEndpoint::setMapper(FunctionMapper* mapper) { mapper_ = mapper; }
std::string IpcEndpoint::properties() { return std::string(); }
bool IpcEndpoint::isClosed() const { return true; }
void IpcEndpoint::setOwner(IpcEndpoints*) {}
