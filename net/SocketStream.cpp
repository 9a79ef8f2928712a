#include "net/SocketStream.h"

#include "net/Host.h"
#include "runtime/ClassRecord.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TSocketStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSocketStream>("TSocketStream", [](auto& d) {
    d.template Field<&TSocketStream::_socket>("_socket");
    d.template Field<&TSocketStream::_autoClose>("_autoClose");
    d.template Method<&TSocketStream::Socket>("Socket");
    d.template Function<&TSocketStream::Create>("Create");
    d.template Function<&TSocketStream::CreateClient>("CreateClient");
  });
  return record;
}

const ClassRecord& TSocketStreamFactory::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSocketStreamFactory>(
      "TSocketStreamFactory",
      [](auto& d) { d.template Method<&TSocketStreamFactory::CreateStream>("CreateStream"); });
  return record;
}

void socketstream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  stream::Init();
  sockets::Init();
  vrRegisterClass(TSocketStream::StaticClass());
  vrRegisterClass(TSocketStreamFactory::StaticClass());
  New<TSocketStreamFactory>();
}

int32_t TSocketStream::Read(void* buf, int32_t count) { return _socket ? _socket->Recv(buf, count, 0) : 0; }

int32_t TSocketStream::Write(const void* buf, int32_t count) {
  return _socket ? _socket->Send(buf, count, 0) : 0;
}

int32_t TSocketStream::Eof() {
  if (!_socket) return 1;
  if (_socket->Connected()) return 0;
  Close();
  return 1;
}

int32_t TSocketStream::Close() {
  if (_socket) {
    if (_autoClose) _socket->Close();
    _socket = nullptr;
  }
  return 0;
}

TSocket* TSocketStream::Socket() { return _socket.get(); }

Ref<TSocketStream> TSocketStream::Create(TSocket* socket, int32_t autoClose) {
  if (!socket) return {};
  Ref<TSocketStream> stream = New<TSocketStream>();
  stream->_socket = socket;
  stream->_autoClose = autoClose;
  return stream;
}

Ref<TSocketStream> TSocketStream::CreateClient(String* host, int32_t port) {
  int32_t ip = HostIp(host, 0);
  if (ip == 0) return {};
  Ref<TSocket> socket = TSocket::CreateTCP();
  if (!socket) return {};
  if (!socket->Connect(ip, port)) {
    socket->Close();
    return {};
  }
  return Create(socket, 1);
}

int32_t SplitHostPort(String* text, int32_t defaultPort, Ref<String>& host) {
  Ref<String> whole(text);
  int32_t colon = whole->Find(u":"_vs);
  if (colon < 0) {
    host = whole;
    return defaultPort;
  }
  host = vrSliceString(whole, 0, colon);
  int32_t port = 0;
  int32_t digits = whole->Length() - colon - 1;
  if (digits < 1 || digits > 5) return -1;
  for (int32_t i = colon + 1; i < whole->Length(); ++i) {
    char16_t unit = (*whole)[i];
    if (unit < u'0' || unit > u'9') return -1;
    port = port * 10 + (unit - u'0');
  }
  return port <= 65535 ? port : -1;
}

Ref<TStream> TSocketStreamFactory::CreateStream(Object*, String* proto, String* path, int32_t, int32_t) {
  if (CompareStrings(proto, u"tcp"_vs) != 0) return {};
  Ref<String> host;
  int32_t port = SplitHostPort(path, 80, host);
  if (port < 0) return {};
  return TSocketStream::CreateClient(host, port);
}

}  // namespace vrl
