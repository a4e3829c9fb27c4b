#include "show/Trace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

std::vector<TTraceAppender>& Appenders() {
  static std::vector<TTraceAppender> List;
  return List;
}

bool Active = false;

void Key(std::string& Json, const char* Name) {
  Json += ",\"";
  Json += Name;
  Json += "\":";
}

void Number(std::string& Json, double Value) {
  if (!std::isfinite(Value)) {
    Json += "null";
    return;
  }
  char Buffer[32];
  // Nine significant digits: every single-precision value reads back unchanged.
  std::snprintf(Buffer, sizeof Buffer, "%.9g", Value);
  Json += Buffer;
}

}  // namespace

void AddTraceAppender(TTraceAppender Appender) {
  if (!Appender) return;
  auto& List = Appenders();
  if (std::find(List.begin(), List.end(), Appender) == List.end()) List.push_back(Appender);
}

void ClearTraceAppenders() { Appenders().clear(); }

bool TraceActive() { return Active; }

void SetTraceActive(bool Value) { Active = Value; }

void TraceInt(std::string& Json, const char* Name, long long Value) {
  Key(Json, Name);
  Json += std::to_string(Value);
}

void TraceNumber(std::string& Json, const char* Name, double Value) {
  Key(Json, Name);
  Number(Json, Value);
}

void TraceBool(std::string& Json, const char* Name, bool Value) {
  Key(Json, Name);
  Json += Value ? "true" : "false";
}

void TraceString(std::string& Json, const char* Name, const std::string& Value) {
  Key(Json, Name);
  Json += '"';
  for (unsigned char C : Value) {
    switch (C) {
      case '"': Json += "\\\""; break;
      case '\\': Json += "\\\\"; break;
      case '\n': Json += "\\n"; break;
      case '\r': Json += "\\r"; break;
      case '\t': Json += "\\t"; break;
      default:
        if (C < 0x20) {
          char Buffer[8];
          std::snprintf(Buffer, sizeof Buffer, "\\u%04x", C);
          Json += Buffer;
        } else {
          Json += static_cast<char>(C);
        }
    }
  }
  Json += '"';
}

void TraceVec3(std::string& Json, const char* Name, float X, float Y, float Z) {
  Key(Json, Name);
  Json += '[';
  Number(Json, X);
  Json += ',';
  Number(Json, Y);
  Json += ',';
  Number(Json, Z);
  Json += ']';
}

std::string TraceFrameFields(unsigned long long Frame, unsigned Time, int Delta, int Fps) {
  std::string Json = "{\"frame\":" + std::to_string(Frame);
  TraceInt(Json, "time", Time);
  TraceInt(Json, "delta", Delta);
  TraceInt(Json, "fps", Fps);
  for (TTraceAppender Appender : Appenders()) Appender(Json);
  return Json;
}
