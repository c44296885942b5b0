#include "logging/LoggerComponent.h"

#include <utility>

LoggerComponent::LoggerComponent(std::string name, int32_t level) : name_(std::move(name)), level_(level) {}
std::string LoggerComponent::name() const { return name_; }
void LoggerComponent::setLevel(int32_t level) { level_ = level; }
int32_t LoggerComponent::level() const { return level_; }
LoggerComponent::~LoggerComponent() = default;
