#include "host/QCPlugInTypes.h"

namespace wex {

const char* portTypeName(QCPortType type) {
  switch (type) {
    case QCPortType::Boolean:
      return "boolean";
    case QCPortType::Index:
      return "index";
    case QCPortType::Number:
      return "number";
    case QCPortType::String:
      return "string";
    case QCPortType::Structure:
      return "structure";
  }
  return "unknown";
}

const char* executionModeName(QCPlugInExecutionMode mode) {
  switch (mode) {
    case QCPlugInExecutionMode::Provider:
      return "provider";
    case QCPlugInExecutionMode::Processor:
      return "processor";
    case QCPlugInExecutionMode::Consumer:
      return "consumer";
  }
  return "unknown";
}

const char* timeModeName(QCPlugInTimeMode mode) {
  switch (mode) {
    case QCPlugInTimeMode::None:
      return "none";
    case QCPlugInTimeMode::Idle:
      return "idle";
    case QCPlugInTimeMode::TimeBase:
      return "time base";
  }
  return "unknown";
}

}  // namespace wex
